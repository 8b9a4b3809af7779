#include "transfer/stop_signal.h"

#ifndef Q_OS_WIN
#include <QSocketNotifier>
#endif

namespace zuk {

void StopOnSignal::signalled()
{
    if (stop_)
        stop_();
}

#ifdef Q_OS_WIN
StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop))
{
    installStopSignals();
    seen_ = stopSignalCount();
    QObject::connect(&poll_, &QTimer::timeout, [this] {
        if (const int count = stopSignalCount(); count != seen_) {
            seen_ = count;
            signalled();
        }
    });
    poll_.start(50);
}
#else
StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop))
{
    const int fd = installStopSignals();
    if (fd < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        drainStopSignalPipe();
        signalled();
    });
}
#endif

StopOnSignal::~StopOnSignal() = default;

}  // namespace zuk
