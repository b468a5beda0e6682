// UnpackWindow on arbitrary packed item data (reserved word, U, stream), set up as the
// package reader does: 512 zero bytes behind the stream and a capacity of U + 512.
// The result and every output byte must match the bit-by-bit decoder.
#include <algorithm>
#include <vector>

#include "codec/_lib_kbtapp.h"
#include "fuzz/targets/fuzz_files.h"
#include "package/package_format.h"
#include "tests/codec/window_tokens.h"

namespace {
constexpr int64_t kPad = 512;
constexpr uint32_t kMaxUnpacked = 1 << 16;  // keeps each run cheap
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const uint32_t unpacked = std::min(fwp::GetLE32(data + 4), kMaxUnpacked);
  const auto coded = static_cast<int64_t>(size - 8);
  std::vector<uint8_t> input(data + 8, data + size);
  input.resize(static_cast<size_t>(coded + kPad), 0);
  const int64_t capacity = unpacked + kPad;

  std::vector<uint8_t> fast(static_cast<size_t>(capacity), 0);
  const int32_t produced = codec::UnpackWindow(input.data(), static_cast<int32_t>(coded),
                                               fast.data(), static_cast<int32_t>(capacity));

  std::vector<uint8_t> slow(static_cast<size_t>(capacity), 0);
  const window_tokens::Walk walk =
      window_tokens::Decode(input.data(), coded, coded * 8, slow.data(), capacity);
  fuzzing::Require(produced == walk.result, "result matches the bit-by-bit decoder");
  fuzzing::Require(produced < capacity, "never reaches the capacity");
  fuzzing::Require(fast == slow, "output matches the bit-by-bit decoder");
  return 0;
}
