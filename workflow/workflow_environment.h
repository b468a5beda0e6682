// Where the workflow finds its own executable and the HID library image it carries, and
// how it keeps the machine awake while it writes a printer, and where it records updates.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "workflow/stay_awake.h"
#include "workflow/update_history.h"

namespace app {

struct WorkflowEnvironment {
  std::string executablePath;
  // The "rc_dll"/"dll" image; nullopt when the executable carries none.
  std::function<std::optional<std::span<const uint8_t>>()> libraryImage;
  // Maker mode whatever the settings file says (--maker: an installed program's folder
  // holds no settings file of the user's).
  bool makerModeRequested = false;
  // Empty: updates run without a lock.
  StayAwake stayAwake = {};
  // Where every update that opened a printer is recorded; null: nowhere.
  std::shared_ptr<UpdateHistory> history = {};
};

}  // namespace app
