#pragma once
// SIGINT, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break and closing
// the console) while zuk_2 runs: the handler only records the signal
// (common/stop_signals.h); the stop itself is called from the event loop, so a
// run ends after the exchange in progress, as closing the window ends it.
// Once installed, the handlers stay for the rest of the program: no signal
// ends it while it writes zuk.txt or the report, a second one included; the
// program ends when it has written everything.

#include <QObject>
#include <functional>
#include <memory>

namespace zuk {

class StopOnSignal {
public:
    // Installs the handlers; stop (when given) is called from the event
    // loop after each signal, for as long as this object lives.
    explicit StopOnSignal(std::function<void()> stop = {});
    // stop is no longer called; the handlers stay.
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal &) = delete;
    StopOnSignal &operator=(const StopOnSignal &) = delete;

    void setStop(std::function<void()> stop) { stop_ = std::move(stop); }

private:
    std::function<void()> stop_;
    std::unique_ptr<QObject> watch_;
};

}  // namespace zuk
