#include "platform/blob.h"

// The linker defines these for a section named like a C identifier when any object
// puts something in it; weak, so a program without blobs links too.
extern "C" {
extern const platform::BlobRecord __start_vrq_blobs[] __attribute__((weak));
extern const platform::BlobRecord __stop_vrq_blobs[] __attribute__((weak));
}

namespace platform {

std::optional<std::span<const uint8_t>> FindBlob(std::string_view type, std::string_view name) {
  if (__start_vrq_blobs == nullptr || __stop_vrq_blobs == nullptr) return std::nullopt;
  for (const BlobRecord* record = __start_vrq_blobs; record < __stop_vrq_blobs; ++record) {
    if (type == record->type && name == record->name) {
      return std::span<const uint8_t>(record->begin, record->end);
    }
  }
  return std::nullopt;
}

}  // namespace platform
