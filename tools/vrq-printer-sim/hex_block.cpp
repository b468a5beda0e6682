#include "tools/vrq-printer-sim/hex_block.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

constexpr size_t kLineChars = 2 * HexBlockReader::kBytesPerLine + 2;  // digits + CR LF

int DigitValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Shown(uint8_t c) {
  char text[16];
  if (c >= 0x20 && c < 0x7F) {
    std::snprintf(text, sizeof text, "'%c'", c);
  } else {
    std::snprintf(text, sizeof text, "0x%02X", c);
  }
  return text;
}

}  // namespace

HexBlockReader::HexBlockReader(uint32_t length)
    : expected_(2 * static_cast<size_t>(length) + 2 * (length / kBytesPerLine)),
      fullLinesChars_((length / kBytesPerLine) * kLineChars) {
  bytes_.reserve(length);
}

size_t HexBlockReader::Consume(const uint8_t* data, size_t size) {
  size_t take = std::min(size, expected_ - received_);
  for (size_t i = 0; i < take; ++i)
    Take(data[i]);
  return take;
}

void HexBlockReader::Take(uint8_t c) {
  size_t at = received_++;
  size_t column = at < fullLinesChars_ ? at % kLineChars : (at - fullLinesChars_);
  bool inFullLine = at < fullLinesChars_;
  if (inFullLine && column == kLineChars - 2) {
    if (c != '\r') Note(Shown(c) + " where the CR after a line of 32 bytes belongs");
    return;
  }
  if (inFullLine && column == kLineChars - 1) {
    if (c != '\n') Note(Shown(c) + " where the LF after a line of 32 bytes belongs");
    return;
  }
  int value = DigitValue(c);
  if (value < 0) {
    bool lower = (c >= 'a' && c <= 'f');
    Note(Shown(c) + (lower ? " is a lower-case hex digit" : " where a hex digit belongs"));
    value = 0;
  }
  if (column % 2 == 0) {
    high_ = value;
    return;
  }
  uint8_t byte = static_cast<uint8_t>(high_ * 16 + value);
  bytes_.push_back(byte);
  sum_ += byte;
}

void HexBlockReader::Note(const std::string& what) {
  if (problem_.empty()) problem_ = what + " (character " + std::to_string(received_ - 1) + ")";
}

}  // namespace sim
