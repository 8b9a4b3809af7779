#include "transfer/stop_signal.h"

#include <atomic>
#include <csignal>

#ifndef Q_OS_WIN
#include <QSocketNotifier>
#include <unistd.h>
#endif

namespace zuk {

namespace {

std::atomic<int> caughtSignal{0};

#ifndef Q_OS_WIN
int signalPipe[2] = {-1, -1};
#endif

extern "C" void onStopSignal(int sig)
{
    caughtSignal = sig;
#ifndef Q_OS_WIN
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
#endif
}

}  // namespace

int caughtStopSignal()
{
    return caughtSignal.load();
}

#ifdef Q_OS_WIN
StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop))
{
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
        if (caughtSignal.load() != 0)
            stop_();
    });
    poll_.start(50);
}

StopOnSignal::~StopOnSignal()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}
#else
StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop))
{
    if (::pipe(signalPipe) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
        stop_();
    });
    struct sigaction sa{};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt_);
    ::sigaction(SIGTERM, &sa, &oldTerm_);
}

StopOnSignal::~StopOnSignal()
{
    if (!notifier_)
        return;
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    notifier_.reset();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
}
#endif

}  // namespace zuk
