#include "package/checksum.h"

#include <libdeflate.h>

namespace fwp {

// libdeflate folds with carry-less multiplication where the processor has it: the update
// checks its package while copying it out, and zlib's table-driven crc32() would take
// longer than the copy itself.
uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  return libdeflate_crc32(crc, data, size);
}

}  // namespace fwp
