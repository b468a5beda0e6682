// Files linked into the executable as named blobs (the Linux stand-in for a module's
// resources). CMake's vrq_embed_blob() adds them; FindBlob looks them up by type and
// name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace platform {

// One embedded file. The records of all blobs of a program are gathered by the linker
// into the section "vrq_blobs", so no registration code runs at start.
struct alignas(32) BlobRecord {
  const char* type;
  const char* name;
  const uint8_t* begin;
  const uint8_t* end;
};

// The bytes of the blob with that type and name (matched exactly); nullopt when the
// program carries none.
std::optional<std::span<const uint8_t>> FindBlob(std::string_view type, std::string_view name);

}  // namespace platform
