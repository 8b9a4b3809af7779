#pragma once
// What the files of the runs (runs.cpp, run_rows.cpp, run_read.cpp,
// run_write.cpp, run_compare.cpp, run_scan.cpp, run_refusals.cpp) share and
// no front end needs.

#include "transfer/runs/report.h"

#include <QString>

namespace zuk::runs {

// Failed tries after which a row is given up.
constexpr int kGiveUpAt = 10;
// Tries of a scan per controller.
constexpr int kScanTries = 3;

// The opening of every refusal: which run did not begin (run_refusals.cpp).
QString notStarted(RunKind kind);

// A row's status line: lead, address, "   регистра $", register, tail (run_rows.cpp).
QString rowText(const char *lead, int address, int reg, const char *tail);

}  // namespace zuk::runs
