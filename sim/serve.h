#pragma once
// The simulator's loop: requests in from the pseudo-terminal, answers out,
// at once or at the pace of a serial line, until a stop signal comes or the
// line is pulled out (--vanish-after).

#include "sim/options.h"
#include "sim/pty.h"
#include "sim/core/sim_core.h"

#include <QFile>

namespace zuk::sim {

// Serves until the descriptor signalFd becomes readable (a stop signal) or
// the line vanishes; with --vanish-after the pseudo-terminal is closed then
// and the function waits for the stop signal before it returns. log gets the
// requests, bytesLog every piece of bytes in and out (either may be nullptr).
void serve(const SimOptions &options, Installation &installation, Pty &pty, int signalFd, QFile *log,
           QFile *bytesLog);

}  // namespace zuk::sim
