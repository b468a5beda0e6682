// The simulated printer's memory: the firmware image it was sent and each flash section
// as its accepted blocks assembled it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class FlashStore {
 public:
  // The printer's flash holds at most this much per section.
  static constexpr uint32_t kSectionLimit = 64u << 20;

  void SetFirmware(std::vector<uint8_t> image);
  bool HasFirmware() const { return hasFirmware_; }
  const std::vector<uint8_t>& Firmware() const { return firmware_; }

  // Stores a block at offset within the section of the given code; false (and nothing
  // stored) when it would reach past kSectionLimit.
  bool WriteBlock(int sectionCode, uint32_t offset, const std::vector<uint8_t>& data);
  const std::map<int, std::vector<uint8_t>>& Sections() const { return sections_; }

  // Writes firmware.bin (when an image came) and one file per section named by its
  // type (bootloader.bin, system.bin, font.bin) into folder, which must exist.
  bool WriteFiles(const std::string& folder, std::string& error) const;

 private:
  bool hasFirmware_ = false;
  std::vector<uint8_t> firmware_;
  std::map<int, std::vector<uint8_t>> sections_;
};

}  // namespace sim
