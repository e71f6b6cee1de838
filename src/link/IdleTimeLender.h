#pragma once
#include <chrono>
#include <functional>
#include <optional>

#include "DeviceLink.h"

namespace vantor {

// Lends the link's idle time to the window for the length of a long
// operation (a port search, an archive read): when the link offers time and
// the window was last served at least `interval` before on the line's clock,
// `serve(budget)` runs and should be done within `budget` (repaint what
// changed, answer the window manager). A screen shows no more than that, and
// the line keeps its pace. The link's previous hook comes back at the end.
class IdleTimeLender {
 public:
  using Clock = DeviceLink::Clock;
  static constexpr std::chrono::milliseconds DefaultInterval{40};
  // Less than this left is not worth starting on.
  static constexpr std::chrono::milliseconds SmallestBudget{2};

  IdleTimeLender(DeviceLink& link, std::function<void(Clock::duration budget)> serve,
                 Clock::duration interval = DefaultInterval);
  ~IdleTimeLender();
  IdleTimeLender(const IdleTimeLender&) = delete;
  IdleTimeLender& operator=(const IdleTimeLender&) = delete;

  // The next time offered is taken whatever the interval: something the
  // user should see has changed (the search moved to another port, whose
  // line may keep another clock).
  void Due() { last_.reset(); }

 private:
  DeviceLink& link_;
  DeviceLink::IdleHook previous_;
  std::function<void(Clock::duration)> serve_;
  Clock::duration interval_;
  std::optional<Clock::time_point> last_;
};

}  // namespace vantor
