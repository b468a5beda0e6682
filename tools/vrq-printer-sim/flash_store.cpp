#include "tools/vrq-printer-sim/flash_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/vrq-printer-sim/faults.h"

namespace sim {

namespace {

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok) error = "cannot write " + path;
  return ok;
}

}  // namespace

void FlashStore::SetFirmware(std::vector<uint8_t> image) {
  firmware_ = std::move(image);
  hasFirmware_ = true;
}

bool FlashStore::WriteBlock(int sectionCode, uint32_t offset, const std::vector<uint8_t>& data) {
  if (offset > kSectionLimit || data.size() > kSectionLimit - offset) return false;
  std::vector<uint8_t>& section = sections_[sectionCode];
  size_t end = offset + data.size();
  if (section.size() < end) section.resize(end);
  std::copy(data.begin(), data.end(), section.begin() + offset);
  return true;
}

bool FlashStore::WriteFiles(const std::string& folder, std::string& error) const {
  if (hasFirmware_ && !WriteWholeFile(folder + "/firmware.bin", firmware_, error)) return false;
  for (const auto& [code, data] : sections_) {
    const char* type = SectionType(code);
    if (type == nullptr) continue;
    if (!WriteWholeFile(folder + "/" + type + ".bin", data, error)) return false;
  }
  return true;
}

}  // namespace sim
