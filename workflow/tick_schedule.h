// When the 10 ms timer is due. A tick that comes late (the loop was busy or asleep
// without pumping) is delivered once, never as a burst, and the timer goes on from then;
// a tick that is only a little late keeps the timer on its grid.
#pragma once

#include <cstdint>

namespace app {

class TickSchedule {
 public:
  static constexpr uint64_t kPeriodMs = 10;

  // The first tick falls one period after startMs.
  void Start(uint64_t startMs) { next_ = startMs + kPeriodMs; }

  // True when a tick is due at nowMs; taking it schedules the next one.
  bool Take(uint64_t nowMs) {
    if (nowMs < next_) return false;
    next_ += kPeriodMs;
    if (next_ <= nowMs) next_ = nowMs + kPeriodMs;
    return true;
  }

  // Milliseconds from nowMs until the next tick is due (0 when it is due already).
  uint64_t MsUntilNext(uint64_t nowMs) const { return next_ > nowMs ? next_ - nowMs : 0; }

 private:
  uint64_t next_ = kPeriodMs;
};

}  // namespace app
