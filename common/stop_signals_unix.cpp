// The stop signals of common/stop_signals.h for Linux and other POSIX
// systems: SIGINT, SIGTERM and SIGHUP through a self-pipe.

#include "common/stop_signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace zuk::platform {

namespace {

std::atomic<int> firstSignal{0};
std::atomic<int> signalCount{0};
bool installed = false;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Made once and never closed: the handlers outlive everything else.
// Non-blocking, so that the handler never waits for a full pipe (a byte
// already in it wakes the loop all the same).
int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int sig)
{
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, sig);
    ++signalCount;
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
    errno = savedErrno;
}

}  // namespace

int installStopSignals()
{
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
}

void drainStopSignals()
{
    char bytes[64];
    while (signalPipe[0] >= 0 && ::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
}

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
    const int fd = installStopSignals();
    if (fd < 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [onSignal = std::move(onSignal)] {
        drainStopSignals();
        onSignal();
    });
    return notifier;
}

}  // namespace zuk::platform
