// The CRC-32 that update applications carry for their linked package: the IEEE
// polynomial, reflected, as zlib's crc32() and gzip compute it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwp {

// Continues crc (0 to start) over size bytes of data.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

}  // namespace fwp
