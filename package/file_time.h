// Item records keep file times as counts of 100 ns since 1601-01-01 UTC.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace fwp {

inline constexpr int64_t kTicksPerSecond = 10'000'000;
inline constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;

inline platform::FileTime FileTimeToUnix(uint64_t ticks) {
  auto seconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  auto nanoseconds = static_cast<uint32_t>((ticks % kTicksPerSecond) * 100);
  return {seconds, nanoseconds};
}

// Times before 1601 have no record form; they become 0.
inline uint64_t UnixToFileTime(platform::FileTime time) {
  int64_t seconds = time.seconds + kSecondsFrom1601To1970;
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * kTicksPerSecond + time.nanoseconds / 100;
}

}  // namespace fwp
