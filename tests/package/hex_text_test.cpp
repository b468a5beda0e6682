#include "package/hex_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(HexText, PairsAndLineBreaks) {
  EXPECT_EQ(ByteToHex(0x0F), "0F");
  EXPECT_EQ(ByteToHex(0xA0), "A0");
  const uint8_t three[] = {0x00, 0xAB, 0xFF};
  EXPECT_EQ(BytesToHexText(three, 3, 2), "00AB\r\nFF");
  EXPECT_EQ(BytesToHexText(three, 2, 2), "00AB\r\n");
  EXPECT_EQ(BytesToHexText(three, 0, 32), "");
  EXPECT_EQ(BytesToHexText(three, 3, 0), "00ABFF");
}

TEST(HexText, LengthOfABlockAtThirtyTwoBytesPerLine) {
  for (int32_t n : {1, 31, 32, 33, 64, 1000, 131072}) {
    std::vector<uint8_t> block(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
      block[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    const std::string text = BytesToHexText(block.data(), n, 32);
    ASSERT_EQ(text.size(), static_cast<size_t>(2 * n + 2 * (n / 32))) << n;
    EXPECT_EQ(text.substr(0, 2), "00");
    if (n >= 33) {
      EXPECT_EQ(text.substr(64, 4), "\r\n20");
    }
  }
}

}  // namespace
