#pragma once
// The stop signals (SIGINT, SIGTERM and, where there is one, SIGHUP) as both
// programs that run a loop of their own see them: the handler only records
// the signal and writes a byte into a pipe whose read end the loop watches
// (a QSocketNotifier in zuk_2, ppoll in zuk_sim). Once installed, the
// handlers stay for the rest of the program, so no signal ends it while it
// writes a file.

namespace zuk {

// Installs the handlers (once; later calls only return the pipe). Returns
// the read end of the non-blocking pipe, or -1 where there is none
// (Windows: watch stopSignalCount() instead).
int installStopSignals();
// Reads whatever the handler wrote into the pipe.
void drainStopSignalPipe();
// The first signal that came, 0 when none came.
int caughtStopSignal();
// How many signals came so far.
int stopSignalCount();

}  // namespace zuk
