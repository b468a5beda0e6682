#include "workflow/printer_vocabulary.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "workflow/text_tools.h"

namespace app {
namespace {

// Every byte value's two digits, ready to be copied as a pair.
constexpr std::array<char, 512> MakePairs() {
  std::array<char, 512> pairs{};
  for (int i = 0; i < 256; ++i) {
    pairs[2 * i] = kHexDigits[i >> 4];
    pairs[2 * i + 1] = kHexDigits[i & 15];
  }
  return pairs;
}
constexpr std::array<char, 512> kPairs = MakePairs();

inline char* PutByte(char* out, uint8_t value) {
  std::memcpy(out, &kPairs[2 * value], 2);
  return out + 2;
}

// The printer reads every number of a command line as a 32-bit "%d".
int AsInt(int64_t value) {
  return static_cast<int>(value);
}

}  // namespace

const FlashSection* SectionFor(std::string_view type) {
  for (const FlashSection& section : kSections) {
    if (type == section.type) return &section;
  }
  return nullptr;
}

std::string CkidCommand() {
  return "CKID\r\n";
}

std::string LinkCommand() {
  return "LINK\r\n";
}

std::string BuzzerCommand(Buzzer code) {
  return "BUZZER TP=" + std::to_string(static_cast<int>(code)) + "\r\n";
}

std::string LedCommand(Led code) {
  return "LED TP=" + std::to_string(static_cast<int>(code)) + "\r\n";
}

std::string FirmwareItemCommand(std::string_view commands, int32_t index) {
  return TextLine(commands, index) + "\r\n";
}

std::string DfCommand(int64_t size, int64_t sum) {
  char line[96];
  std::snprintf(line, sizeof line, "%s %d %d %d %d\r\n", "DF", 0, 536870912, AsInt(size),
                AsInt(sum));
  return line;
}

std::string SetitCommand(int sectionCode, int64_t offset, int64_t length, int64_t sum,
                         int32_t mode) {
  char line[128];
  std::snprintf(line, sizeof line, "SETIT TP=%d,ADD=%d,LEN=%d,CK=%d,MD=%d\r\n", sectionCode,
                AsInt(offset), AsInt(length), AsInt(sum), mode);
  return line;
}

std::string BytesToHexText(const uint8_t* data, int32_t length, int32_t bytesPerLine) {
  if (length <= 0) return {};
  const size_t n = static_cast<size_t>(length);
  const size_t perLine = bytesPerLine > 0 ? static_cast<size_t>(bytesPerLine) : 0;
  const size_t breaks = perLine > 0 ? n / perLine : 0;
  std::string text(2 * n + 2 * breaks, '\0');
  char* out = text.data();
  size_t i = 0;
  for (size_t line = 0; line < breaks; ++line) {
    for (size_t end = i + perLine; i < end; ++i)
      out = PutByte(out, data[i]);
    *out++ = '\r';
    *out++ = '\n';
  }
  for (; i < n; ++i)
    out = PutByte(out, data[i]);
  return text;
}

int64_t ByteSum(const uint8_t* data, size_t length) {
  int64_t sum = 0;
  for (size_t i = 0; i < length; ++i)
    sum += data[i];
  return sum;
}

std::string TrimReply(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t first = 0;
  while (first < text.size() && blank(text[first]))
    ++first;
  size_t last = text.size();
  while (last > first && blank(text[last - 1]))
    --last;
  return std::string(text.substr(first, last - first));
}

bool HasCompleteLine(std::string_view text) {
  size_t pos = text.find("\r\n");
  return pos != std::string_view::npos && pos >= 1;
}

}  // namespace app
