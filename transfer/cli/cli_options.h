#pragma once
// Command line of zuk_2. Every option is a row of one table (options.cpp);
// the parser and the text of --help are both made from it.

#include "common/address_map.h"
#include "transfer/runs/run_settings.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace zuk {

// The settings of the line and the runs, and what only the command line says.
struct TransferOptions : TransferSettings {
    enum class Mode { Window, Read, Write, Help, Compare, Diff, ListPorts, Scan, HistoryList, Version };
    Mode mode = Mode::Window;
    bool portGiven = false;   // --port on the command line (else the remembered port)
    std::optional<std::array<bool, kSlotCount>> tick;  // replaces the loaded ticks
    QString diffA, diffB;     // the two image files of --diff
    // dir empty: see common/program_folder.h
};

// Parses the arguments (without the program name). On failure returns false
// and *error names the bad argument in Russian.
bool parseTransferOptions(const QStringList &args, TransferOptions *out, QString *error);

// The text of --help, in Russian, at most 100 columns wide.
QString transferUsage();

}  // namespace zuk
