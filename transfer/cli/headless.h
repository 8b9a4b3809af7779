#pragma once
// The runs without a window, for terminals and scripts.

#include "transfer/cli/cli_options.h"

namespace zuk {

// Runs the reading, writing or comparing run given by the options (or the
// diff of two files) and returns the exit status. Needs a QCoreApplication;
// options.dir must be set.
int runHeadless(const TransferOptions &options);

// Prints the serial ports of the system, one per line.
int listPorts();

// Prints the images kept in the folder's history/, newest first.
int listHistory(const QString &folder);

// Prints every byte that differs between two image files and the count.
int runDiff(const QString &fileA, const QString &fileB);

}  // namespace zuk
