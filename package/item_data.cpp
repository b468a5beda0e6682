#include "package/item_data.h"

#include <algorithm>
#include <new>
#include <optional>

#include "codec/_lib_kbtapp.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "platform/file.h"

namespace fwp {
namespace {

constexpr int64_t kReadChunk = 65536;

UnpackedItem Refused(std::string problem) {
  UnpackedItem item;
  item.problem = std::move(problem);
  return item;
}

}  // namespace

UnpackedItem UnpackItemData(platform::File& package, int64_t dataLength) {
  unsigned char prefix[kPackedPrefixSize];
  std::optional<uint32_t> unpackedLength;
  if (dataLength >= static_cast<int64_t>(sizeof prefix) &&
      package.Read(prefix, sizeof prefix) == static_cast<int64_t>(sizeof prefix)) {
    unpackedLength = GetLE32(prefix + 4);
  }
  if (std::string problem = PackedDataProblem(dataLength, unpackedLength); !problem.empty()) {
    return Refused(problem);
  }
  const int64_t coded = dataLength - static_cast<int64_t>(sizeof prefix);
  UnpackedItem item;
  item.size = *unpackedLength;
  std::vector<uint8_t> input;
  try {
    input.assign(static_cast<size_t>(coded + kCodecPad), 0);
    item.bytes.assign(static_cast<size_t>(item.size + kCodecPad), 0);
  } catch (const std::bad_alloc&) {
    return Refused("not enough memory to unpack " + std::to_string(item.size) + " bytes");
  }
  for (int64_t got = 0; got < coded;) {
    const auto want = static_cast<size_t>(std::min(coded - got, kReadChunk));
    const int64_t n = package.Read(input.data() + got, want);
    if (n <= 0) return Refused("packed data is cut short");
    got += n;
  }
  item.produced = codec::UnpackWindow(input.data(), static_cast<int32_t>(coded), item.bytes.data(),
                                      static_cast<int32_t>(item.size + kCodecPad));
  // The capacity is U and the margin: a stream that reaches it is not this item's.
  if (item.produced < 0) return Refused("packed data is damaged (it does not decode)");
  return item;
}

std::string EndsEarlyWarning(const std::string& name, const UnpackedItem& item) {
  return "item \"" + name + "\": its packed stream ends after " + std::to_string(item.produced) +
         " of its " + std::to_string(item.size) + " bytes; the last " +
         std::to_string(item.size - item.produced) + " are zeros";
}

}  // namespace fwp
