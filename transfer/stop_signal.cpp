#include "transfer/stop_signal.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#ifndef Q_OS_WIN
#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zuk {

namespace {

std::atomic<int> firstSignal{0};
std::atomic<int> signalCount{0};

constexpr int kStopSignals[] = {
    SIGINT, SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

#ifndef Q_OS_WIN
// Made once and never closed: the handlers outlive every StopOnSignal.
// Non-blocking, so that the handler never waits for a full pipe (a byte
// already in it wakes the loop all the same).
int signalPipe[2] = {-1, -1};

bool makePipe()
{
    if (signalPipe[0] >= 0)
        return true;
    if (::pipe(signalPipe) != 0)
        return false;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}
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

int caughtStopSignal()
{
    return firstSignal.load();
}

void StopOnSignal::signalled()
{
    if (stop_)
        stop_();
}

#ifdef Q_OS_WIN
StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop)), seen_(signalCount.load())
{
    for (int sig : kStopSignals)
        std::signal(sig, onStopSignal);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
        if (const int count = signalCount.load(); count != seen_) {
            seen_ = count;
            signalled();
        }
    });
    poll_.start(50);
}

StopOnSignal::~StopOnSignal() = default;
#else
StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop))
{
    if (!makePipe())
        return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[64];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        signalled();
    });
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;   // a write of zuk.txt or of the report goes on after the handler
    for (int sig : kStopSignals)
        ::sigaction(sig, &sa, nullptr);
}

StopOnSignal::~StopOnSignal() = default;
#endif

}  // namespace zuk
