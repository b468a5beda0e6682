// Where the workflow finds its own executable and the HID library image it carries.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace app {

struct WorkflowEnvironment {
  std::string executablePath;
  // The "rc_dll"/"dll" image; nullopt when the executable carries none.
  std::function<std::optional<std::span<const uint8_t>>()> libraryImage;
};

}  // namespace app
