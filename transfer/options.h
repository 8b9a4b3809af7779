#pragma once
// Command line of zuk_2. Every option is a row of one table (options.cpp);
// the parser and the text of --help are both made from it.

#include "common/address_map.h"
#include "transfer/serial_port.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace zuk {

struct TransferOptions {
    enum class Mode { Window, Read, Write, Help, Compare, Diff, ListPorts };
    Mode mode = Mode::Window;
    QString port = defaultPortName();
    bool portGiven = false;   // --port on the command line (else the remembered port)
    QString dir;              // empty: see common/program_folder.h
    std::optional<std::array<bool, kSlotCount>> tick;  // replaces the loaded ticks
    int waitUnitMs = 400;
    bool verify = false;    // read every written row back
    QString report;         // JSON run report, empty: none
    bool echo = false;      // the adapter echoes every byte sent
    bool rs485 = false;     // switch the driver into RS-485 mode
    QString diffA, diffB;   // the two image files of --diff
    bool fast = false;      // end each exchange with its reply (see BusExchange::setFastMode)
    int replyTimeoutMs = 100;
    int settleMs = 20;
};

// Parses the arguments (without the program name). On failure returns false
// and *error names the bad argument in Russian.
bool parseTransferOptions(const QStringList &args, TransferOptions *out, QString *error);

// "00,07,80,9C" (hexadecimal bus addresses as on the check boxes), "all" or
// "none". Anything else fails.
bool parseTickList(const QString &text, std::array<bool, kSlotCount> *out);

QString transferUsage();

}  // namespace zuk
