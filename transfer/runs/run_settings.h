#pragma once
// The settings of the line and of the runs, whether they come from the
// command line, the window's menus or a test: one value, and one function
// that puts them into an exchange and a transfer tool.

#include "common/port_names.h"
#include "bus/exchange.h"

#include <QString>

namespace zuk {

class TransferTool;

// The port used when none is named: the first serial port of the system.
inline QString defaultPortName()
{
    return platform::defaultPortName();
}

struct TransferSettings {
    // The line.
    QString port = defaultPortName();
    bool echo = false;    // the adapter echoes every byte sent
    bool rs485 = false;   // switch the driver into RS-485 mode when opening
    int waitUnitMs = BusExchange::kDefaultWaitUnitMs;
    bool fast = false;    // an exchange ends with its reply
    int replyTimeoutMs = BusExchange::kDefaultReplyTimeoutMs;
    int settleMs = BusExchange::kDefaultSettleMs;
    // The runs.
    QString dir;          // the folder of zuk.txt
    bool verify = false;  // read every written row back
    bool skipSilent = false;  // leave a controller that gives its first row up without any valid reply
    QString report;       // JSON report of each run, empty: none
    QString trace;        // record of the line's bytes and verdicts (transfer/line_trace.h), empty: none
    // Safe writes and the history of images (history/ beside zuk.txt).
    bool changedOnly = false;  // read first, write only the rows that differ, keep the house first
    bool backupFirst = false;  // read the ticked controllers whole into history/ before writing
    bool history = true;       // a reading run keeps the zuk.txt it replaces
    bool historyGiven = false; // --history or --no-history on the command line
    int keep = 50;             // images history/ keeps
    bool forceAbsent = false;  // write controllers the image marks absent
};

// Sets the exchange's timing and the tool's folder, verification and
// skipping of silent controllers.
void applySettings(const TransferSettings &settings, BusExchange &bus, TransferTool &tool);

}  // namespace zuk
