// Item data as the printer's flash commands want it: upper-case hex digit pairs.
#pragma once

#include <cstdint>
#include <string>

// Two upper-case hex digits, high nibble first.
std::string ByteToHex(uint8_t value);

// Every byte as ByteToHex, with "\r\n" after each byte whose 1-based position is a
// multiple of bytesPerLine (bytesPerLine <= 0 gives no line breaks).
std::string BytesToHexText(const uint8_t* data, int32_t length, int32_t bytesPerLine);
