#pragma once
// SIGINT and SIGTERM while zuk_2 runs: the handler only records the signal
// (and, on POSIX systems, wakes the event loop through a pipe); the stop
// itself is called from the event loop, so a run ends after the exchange in
// progress, as closing the window ends it.

#include <QTimer>
#include <functional>
#include <memory>

#ifndef Q_OS_WIN
#include <csignal>
class QSocketNotifier;
#endif

namespace zuk {

class StopOnSignal {
public:
    explicit StopOnSignal(std::function<void()> stop);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal &) = delete;
    StopOnSignal &operator=(const StopOnSignal &) = delete;

private:
    std::function<void()> stop_;
#ifdef Q_OS_WIN
    QTimer poll_;
#else
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_{}, oldTerm_{};
#endif
};

// The signal that stopped the program (SIGINT, SIGTERM), 0 when none came.
int caughtStopSignal();

}  // namespace zuk
