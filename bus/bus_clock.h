#pragma once
// The clock the exchanges keep their times and do their waits on.
//
// The programs use BusTimers: the monotonic clock of QElapsedTimer, and a
// wait that runs a QEventLoop quit by a single-shot precise QTimer, so that
// receive events (and the window) are served while a run waits. Tests give
// the exchange a clock of their own (tests/transfer/virtual_clock.h) on which
// time passes only while the exchange waits, and at once.

#include <QtGlobal>

class QEventLoop;

namespace zuk {

class BusClock {
public:
    virtual ~BusClock() = default;
    // Nanoseconds since a fixed moment of this clock; never goes back.
    virtual qint64 nowNs() const = 0;
    // Serves events until deadlineNs has come, or until an event served
    // meanwhile calls wake(). A deadline already past serves only the
    // events already due.
    virtual void waitUntil(qint64 deadlineNs) = 0;
    // Ends the innermost waitUntil in progress; none in progress: nothing.
    virtual void wake() = 0;
};

class BusTimers final : public BusClock {
public:
    BusTimers();
    qint64 nowNs() const override;
    void waitUntil(qint64 deadlineNs) override;
    void wake() override;

private:
    qint64 startNs_ = 0;
    QEventLoop *loop_ = nullptr;   // the innermost wait's
};

}  // namespace zuk
