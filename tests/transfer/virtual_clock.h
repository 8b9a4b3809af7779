#pragma once
// A clock on which time passes only while an exchange waits: it jumps to the
// next delivery due (or to the wait's deadline when none is due before it),
// so a run takes no real time and every request count is exact.

#include "bus/bus_clock.h"

#include <QtGlobal>
#include <functional>
#include <map>
#include <utility>

namespace zuk::test {

class VirtualClock final : public BusClock {
public:
    static constexpr qint64 kMs = 1000000;

    qint64 nowNs() const override { return now_; }
    qint64 nowMs() const { return now_ / kMs; }
    // f runs when the clock reaches `ms` from now; things due at the same
    // time run in the order they were given.
    void after(qint64 ms, std::function<void()> f) { due_.emplace(now_ + ms * kMs, std::move(f)); }
    void waitUntil(qint64 deadlineNs) override
    {
        bool woken = false;
        bool *outer = std::exchange(woken_, &woken);
        while (!woken && !due_.empty() && due_.begin()->first <= deadlineNs) {
            auto next = due_.extract(due_.begin());
            now_ = std::max(now_, next.key());
            next.mapped()();
        }
        if (!woken)
            now_ = std::max(now_, deadlineNs);
        woken_ = outer;
    }
    void wake() override
    {
        if (woken_)
            *woken_ = true;
    }

private:
    qint64 now_ = 0;
    std::multimap<qint64, std::function<void()>> due_;
    bool *woken_ = nullptr;   // the innermost wait's
};

}  // namespace zuk::test
