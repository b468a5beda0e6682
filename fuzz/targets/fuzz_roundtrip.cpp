// The encoder on arbitrary data: the decoder gives the data back, and the stream holds
// only copies that stay behind their output position.
#include <cstring>
#include <vector>

#include "codec/_lib_kbtapp.h"
#include "codec/window_encoder.h"
#include "fuzz/targets/fuzz_files.h"
#include "tests/codec/window_tokens.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> stream = codec::PackWindow(data, size);
  fuzzing::Require(stream.size() <= codec::PackWindowBound(size), "stream within its bound");

  std::vector<uint8_t> input(stream);
  input.resize(stream.size() + 512, 0);
  const auto capacity = static_cast<int32_t>(size + 512);
  std::vector<uint8_t> out(static_cast<size_t>(capacity), 0);
  const int32_t produced =
      codec::UnpackWindow(input.data(), static_cast<int32_t>(stream.size()), out.data(), capacity);
  fuzzing::Require(
      produced >= static_cast<int32_t>(size) && produced <= static_cast<int32_t>(size) + 1,
      "decodes to the data and at most one padding byte");
  fuzzing::Require(size == 0 || std::memcmp(out.data(), data, size) == 0, "decodes to the data");

  std::vector<uint8_t> slow(static_cast<size_t>(capacity), 0);
  const window_tokens::Walk walk =
      window_tokens::Decode(input.data(), static_cast<int64_t>(stream.size()),
                            static_cast<int64_t>(stream.size()) * 8, slow.data(), capacity);
  fuzzing::Require(!walk.zeroFillCopy, "no copy reads the zero fill");
  fuzzing::Require(!walk.shortCopy, "no one-byte copies");
  return 0;
}
