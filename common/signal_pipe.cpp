#include "common/signal_pipe.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <csignal>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zuk {

namespace {

std::atomic<int> firstSignal{0};
std::atomic<int> signalCount{0};
bool installed = false;

constexpr int kStopSignals[] = {
    SIGINT, SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

#ifndef Q_OS_WIN
// Made once and never closed: the handlers outlive everything else.
// Non-blocking, so that the handler never waits for a full pipe (a byte
// already in it wakes the loop all the same).
int signalPipe[2] = {-1, -1};
#endif

extern "C" void onStopSignal(int sig)
{
    const int savedErrno = errno;
#ifdef Q_OS_WIN
    std::signal(sig, onStopSignal);   // the runtime resets it to the default action
#endif
    int none = 0;
    firstSignal.compare_exchange_strong(none, sig);
    ++signalCount;
#ifndef Q_OS_WIN
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
#endif
    errno = savedErrno;
}

}  // namespace

int installStopSignals()
{
#ifdef Q_OS_WIN
    if (!installed)
        for (int sig : kStopSignals)
            std::signal(sig, onStopSignal);
    installed = true;
    return -1;
#else
    if (installed)
        return signalPipe[0];
    if (::pipe(signalPipe) != 0)
        return -1;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;   // a write of a file goes on after the handler
    for (int sig : kStopSignals)
        ::sigaction(sig, &sa, nullptr);
    installed = true;
    return signalPipe[0];
#endif
}

void drainStopSignalPipe()
{
#ifndef Q_OS_WIN
    char bytes[64];
    while (signalPipe[0] >= 0 && ::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
#endif
}

int caughtStopSignal()
{
    return firstSignal.load();
}

int stopSignalCount()
{
    return signalCount.load();
}

}  // namespace zuk
