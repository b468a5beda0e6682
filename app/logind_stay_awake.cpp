#include "app/logind_stay_awake.h"

#include <memory>
#include <utility>

#include "platform/sleep_inhibitor.h"

namespace app {
namespace {

constexpr char kWho[] = "vrq-update";

class LogindLock final : public AwakeLock {
 public:
  explicit LogindLock(platform::SleepInhibitor lock) : lock_(std::move(lock)) {}

 private:
  platform::SleepInhibitor lock_;
};

}  // namespace

StayAwake LogindStayAwake(std::function<void(const std::string& problem)> whyNot) {
  return [whyNot = std::move(whyNot)](const std::string& why) -> std::unique_ptr<AwakeLock> {
    platform::InhibitResult result = platform::InhibitSleep(kWho, why);
    if (!result.lock.IsHeld()) {
      if (whyNot) whyNot(result.problem);
      return nullptr;
    }
    return std::make_unique<LogindLock>(std::move(result.lock));
  };
}

}  // namespace app
