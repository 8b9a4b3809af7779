// The stop signals of common/stop_signals.h for Windows: Ctrl+C, Ctrl+Break
// and closing the console through SetConsoleCtrlHandler, SIGTERM through the
// C runtime, and an event that a QWinEventNotifier watches.

#include "common/stop_signals.h"

#include <QWinEventNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include <windows.h>

namespace zuk::platform {

namespace {

// SIGHUP as on POSIX: the console the program ran in was closed.
constexpr int kConsoleClosed = 1;

std::atomic<int> firstSignal{0};
std::atomic<int> signalCount{0};
HANDLE signalEvent = nullptr;   // set by the handler, watched by the event loop
std::atomic<bool> exiting{false};

void record(int sig)
{
    int none = 0;
    firstSignal.compare_exchange_strong(none, sig);
    ++signalCount;
    SetEvent(signalEvent);
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        record(SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this returns (at the latest
        // after some seconds): the run stops after its exchange and writes
        // what it has while this waits; the program's exit ends the wait.
        record(kConsoleClosed);
        for (int i = 0; i < 100 && !exiting; ++i)
            Sleep(50);
        return TRUE;
    default:
        return FALSE;
    }
}

extern "C" void onTerminate(int sig)
{
    std::signal(sig, onTerminate);   // the runtime resets it to the default action
    record(sig);
}

}  // namespace

int installStopSignals()
{
    if (!signalEvent) {
        signalEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
        std::signal(SIGTERM, onTerminate);
        std::atexit([] { exiting = true; });
    }
    return -1;
}

void drainStopSignals() {}

int caughtStopSignal()
{
    return firstSignal.load();
}

int stopSignalCount()
{
    return signalCount.load();
}

std::unique_ptr<QObject> watchStopSignals(std::function<void()> onSignal)
{
    installStopSignals();
    auto notifier = std::make_unique<QWinEventNotifier>(signalEvent);
    QObject::connect(notifier.get(), &QWinEventNotifier::activated, [onSignal = std::move(onSignal)] { onSignal(); });
    return notifier;
}

}  // namespace zuk::platform
