#pragma once
// The stop signals as each system has them: stop_signals_unix.cpp (SIGINT,
// SIGTERM, SIGHUP through a self-pipe), stop_signals_win.cpp (Ctrl+C,
// Ctrl+Break and closing the console); the build takes one of the two.

#include <QObject>

#include <functional>
#include <memory>

namespace zuk::platform {

// Installs the stop handlers once (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl+C,
// Ctrl+Break and closing the console on Windows). The handler only records
// the signal; the handlers stay for the rest of the program, so no signal
// ends it while it writes a file. Returns what a loop waits on: the read end
// of a non-blocking pipe on POSIX, -1 on Windows (use watchStopSignals).
int installStopSignals();
// Reads whatever the handler wrote into the pipe (POSIX).
void drainStopSignals();
// The first signal that came (SIGINT for Ctrl+C and Ctrl+Break, SIGHUP for
// a closed console), 0 when none came.
int caughtStopSignal();
// How many signals came so far.
int stopSignalCount();
// Calls onSignal from the Qt event loop after each stop signal, for as long
// as the returned object lives.
std::unique_ptr<QObject> watchStopSignals(std::function<void()> onSignal);

}  // namespace zuk::platform
