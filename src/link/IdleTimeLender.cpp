#include "IdleTimeLender.h"

namespace vantor {

IdleTimeLender::IdleTimeLender(DeviceLink& link, std::function<void(Clock::duration budget)> serve,
                               Clock::duration interval)
    : link_(link), previous_(link.OnIdle), serve_(std::move(serve)), interval_(interval) {
  link_.OnIdle = [this](Clock::time_point now, Clock::time_point until) {
    // A line opened again (after an unplug) may run on another clock.
    const bool due = !last_ || now < *last_ || now - *last_ >= interval_;
    if (due && until - now >= SmallestBudget) {
      last_ = now;
      serve_(until - now);
    }
  };
}

IdleTimeLender::~IdleTimeLender() {
  link_.OnIdle = previous_;
}

}  // namespace vantor
