#include "transfer/cli/stop_signal.h"

#include "common/stop_signals.h"

namespace zuk {

StopOnSignal::StopOnSignal(std::function<void()> stop)
    : stop_(std::move(stop)), watch_(platform::watchStopSignals([this] {
          if (stop_)
              stop_();
      }))
{
}

StopOnSignal::~StopOnSignal() = default;

}  // namespace zuk
