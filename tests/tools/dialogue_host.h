// The host's side of the printer dialogue as bytes, for the simulator's tests: the
// commands the update application sends, with switches to get them wrong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

struct HexStyle {
  bool lowerCase = false;
  bool lineEndingLfOnly = false;  // "\n" instead of "\r\n" after every 32nd byte
  int bytesPerLine = 32;          // where the line breaks go
};

// A block's bytes as the printer wants them: upper-case digit pairs, CR LF after every
// 32nd byte (unless style says otherwise).
std::string HexText(const std::vector<uint8_t>& bytes, const HexStyle& style = {});
std::string SetitLine(int tp, int64_t add, int64_t len, int64_t ck, int md);
std::string DfLine(const std::vector<uint8_t>& image);
int64_t Sum(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Pattern(size_t size, unsigned seed);
int BlockSize(int tp);

}  // namespace simtest
