// Packed item data decoded in memory, the one way the package object and the checks of
// a whole package unpack an item.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class File;
}

namespace fwp {

struct UnpackedItem {
  // U bytes and the decoder's margin behind them; the first `size` are the item. Bytes
  // the stream did not reach stay zero.
  std::vector<uint8_t> bytes;
  int64_t size = 0;      // U
  int64_t produced = 0;  // what the stream decoded to: U or more, or fewer when it ends early
  std::string problem;   // why the data cannot be unpacked; "" when it can

  bool Ok() const { return problem.empty(); }
  // The stream ends before U bytes: the item ends in zeros. Packages made elsewhere may
  // rely on that for items that end in zeros, so it is no damage.
  bool EndsEarly() const { return Ok() && produced < size; }
};

// Reads dataLength bytes of packed item data (D) at the package's position and unpacks
// them. A stream that would run into the output's capacity, or that is outside the
// format, cannot be unpacked.
UnpackedItem UnpackItemData(platform::File& package, int64_t dataLength);

// The words for an item whose stream ends early.
std::string EndsEarlyWarning(const std::string& name, const UnpackedItem& item);

}  // namespace fwp
