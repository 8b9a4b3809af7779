#include "bus/bus_clock.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace zuk {

namespace {
qint64 monotonicNs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed();
}
}  // namespace

BusTimers::BusTimers() : startNs_(monotonicNs()) {}

qint64 BusTimers::nowNs() const { return monotonicNs() - startNs_; }

void BusTimers::waitUntil(qint64 deadlineNs)
{
    const qint64 leftNs = std::max<qint64>(0, deadlineNs - nowNs());
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(int((leftNs + 999999) / 1000000));   // whole milliseconds, never before the deadline
    QEventLoop *outer = std::exchange(loop_, &loop);
    loop.exec();
    loop_ = outer;
}

void BusTimers::wake()
{
    if (loop_)
        loop_->quit();
}

}  // namespace zuk
