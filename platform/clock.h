// Time as the program sees it: a monotonic millisecond clock and a sleep that handles no
// events. Production uses the steady clock; tests use a virtual one, so that waits of
// seconds run in microseconds and every bound on them can be checked exactly. Everything
// that waits on a fixed schedule (the workflow's ticks, the printer port's settle times,
// a write that makes no progress) asks the clock, never the system.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes back. Safe from any thread.
  virtual uint64_t NowMs() = 0;
  // Blocks the calling thread for ms milliseconds without handling any event. Safe from
  // any thread.
  virtual void SleepMs(uint32_t ms) = 0;
};

class SteadyClock final : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
};

// A steady clock for code that is given none (tools, benchmarks); lives as long as the
// program.
Clock& SystemClock();

}  // namespace platform
