// Time as the workflow sees it: a monotonic millisecond clock and a sleep that pumps
// nothing. Production uses the steady clock; tests use a virtual one, so waits of
// seconds run in microseconds and tick counts come out exactly.
#pragma once

#include <cstdint>

namespace app {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes back.
  virtual uint64_t NowMs() = 0;
  // Blocks the calling thread for ms milliseconds without handling any event.
  virtual void SleepMs(uint32_t ms) = 0;
};

class SteadyClock final : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
};

}  // namespace app
