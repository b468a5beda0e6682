#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace platform {

uint64_t SteadyClock::NowMs() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SteadyClock::SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace platform
