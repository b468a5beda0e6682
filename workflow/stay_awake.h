// Keeping the machine awake while a printer is written. A printer whose host suspends,
// shuts down or runs its idle action in the middle of a flash is left with incomplete
// firmware, so an update holds a lock against all of these from the moment it has the
// printer until the run ends. The front end says how such a lock is had (a logind lock
// on a Linux desktop); the workflow only holds it.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace app {

// The machine stays awake while this lives.
class AwakeLock {
 public:
  virtual ~AwakeLock() = default;
};

// Asks for the lock; why says what the program is doing (desktops show it to someone
// who tries to suspend or shut down). Null when no lock could be had: the update goes on
// without one. Never throws, and returns within a few seconds.
using StayAwake = std::function<std::unique_ptr<AwakeLock>(const std::string& why)>;

}  // namespace app
