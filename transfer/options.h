#pragma once
// Command line of zuk_2.

#include "common/address_map.h"
#include "transfer/serial_port.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace zuk {

struct TransferOptions {
    enum class Mode { Window, Read, Write, Help };
    Mode mode = Mode::Window;
    QString port = defaultPortName();
    QString dir;                                       // empty: see common/program_folder.h
    std::optional<std::array<bool, kSlotCount>> tick;  // replaces the loaded ticks
    int waitUnitMs = 400;
};

// Parses the arguments (without the program name). On failure returns false
// and *error names the bad argument.
bool parseTransferOptions(const QStringList &args, TransferOptions *out, QString *error);

// "00,07,80,9C" (hexadecimal bus addresses as on the check boxes), "all" or
// "none". Anything else fails.
bool parseTickList(const QString &text, std::array<bool, kSlotCount> *out);

QString transferUsage();

}  // namespace zuk
