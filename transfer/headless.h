#pragma once
// The runs without a window, for terminals and scripts.

#include "transfer/options.h"

namespace zuk {

// Runs the reading or writing run given by the options and returns the exit
// status. Needs a QCoreApplication; options.dir must be set.
int runHeadless(const TransferOptions &options);

}  // namespace zuk
