// A logind inhibitor lock: while it is held, logind will not suspend, hibernate, shut
// down or reboot the machine, nor run the idle action, on anybody's request (mode
// "block"; a user who insists must first end the program or override the lock).
//
// logind hands out the lock as a descriptor: the lock lasts exactly as long as that
// descriptor is open anywhere. SleepInhibitor holds it in a platform::Descriptor, so
// destroying the owner (on any path) gives the lock back; the descriptor is close-on-exec,
// so programs started meanwhile never keep the machine awake after this one has ended.
//
//   platform::InhibitResult result = platform::InhibitSleep("vrq-update", "Updating ...");
//   if (!result.lock.IsHeld()) note(result.problem);   // the work goes on regardless
//
// Without a system bus, or without logind on it (containers, minimal systems), or when
// logind refuses, there is no lock and problem says why in a few words.
#pragma once

#include <string>
#include <utility>

#include "platform/descriptor.h"

namespace platform {

class SleepInhibitor {
 public:
  SleepInhibitor() noexcept = default;  // holds nothing
  explicit SleepInhibitor(Descriptor lock) noexcept : lock_(std::move(lock)) {}

  bool IsHeld() const noexcept { return lock_.IsOpen(); }
  // Gives the lock back now; destroying the owner does the same.
  void Release() noexcept { lock_.Reset(); }

 private:
  Descriptor lock_;
};

struct InhibitResult {
  SleepInhibitor lock;
  std::string problem;  // why no lock is held; empty when it is
};

// Asks logind on the system bus (DBUS_SYSTEM_BUS_ADDRESS, when set, says where that is)
// for a "block" lock on "sleep:shutdown:idle". who names the program and why says what it
// is doing: desktops show both to someone who tries to suspend or shut down. Gives up
// after a few seconds when the bus or logind does not answer. Never throws.
InhibitResult InhibitSleep(const std::string& who, const std::string& why);

}  // namespace platform
