// The one escaper of texts from a device or a package, and the UTF-8 check under it.
#include "platform/printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using std::string_literals::operator""s;

TEST(PrintableTextTest, ControlsAndBrokenUtf8BecomeHexEscapesAndTheRestStays) {
  const struct {
    std::string text;
    std::string shown;
  } kCases[] = {
      {"VRQSIM0001", "VRQSIM0001"},
      {"\x1b[2J\x1b]0;owned\x07", "\\x1B[2J\\x1B]0;owned\\x07"},           // escape sequences
      {"A\r\nB\tC", "A\\x0D\\x0AB\\x09C"},                                 // CR, LF, TAB
      {"\x00\x1f\x7f"s, "\\x00\\x1F\\x7F"},                                // C0 ends and DEL
      {"a\xc2\x80z\xc2\x9b", "a\\xC2\\x80z\\xC2\\x9B"},                    // C1 as UTF-8 (CSI)
      {"\xc2\xa0", "\xc2\xa0"},                                            // U+00A0, past C1
      {"a\x80\x9b\x9f", "a\\x80\\x9B\\x9F"},                               // C1 as raw bytes
      {"\xff\xfe", "\\xFF\\xFE"},                                          // never in UTF-8
      {"\xe2\x82", "\\xE2\\x82"},                                          // cut at the end
      {"\xe2\x82x", "\\xE2\\x82x"},                                        // cut before ASCII
      {"\xf0\x9f\x96", "\\xF0\\x9F\\x96"},                                 // cut 4-byte form
      {"\xc0\xaf", "\\xC0\\xAF"},                                          // overlong "/"
      {"\xe0\x80\xaf", "\\xE0\\x80\\xAF"},                                 // overlong, 3 bytes
      {"\xed\xa0\x80", "\\xED\\xA0\\x80"},                                 // surrogate D800
      {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},                        // above U+10FFFF
      {"caf\xc3\xa9", "caf\xc3\xa9"},                                      // é unchanged
      {"\xe2\x82\xac \xf0\x9f\x96\xa8", "\xe2\x82\xac \xf0\x9f\x96\xa8"},  // € and 🖨
      {"a\\x1Bb", "a\\x1Bb"},                                              // backslash stays
      {"", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(platform::Printable(c.text), c.shown) << c.shown;
    // What comes out is for a terminal as it is: shown again, it stays the same.
    EXPECT_EQ(platform::Printable(c.shown), c.shown) << c.shown;
  }
}

TEST(PrintableTextTest, Utf8SequenceLength) {
  EXPECT_EQ(platform::Utf8SequenceLength("a", 0), 1u);
  EXPECT_EQ(platform::Utf8SequenceLength("\xc3\xa9", 0), 2u);
  EXPECT_EQ(platform::Utf8SequenceLength("\xe2\x82\xac", 0), 3u);
  EXPECT_EQ(platform::Utf8SequenceLength("\xf4\x8f\xbf\xbf", 0), 4u);  // U+10FFFF
  EXPECT_EQ(platform::Utf8SequenceLength("\xc3\xa9", 1), 0u);          // continuation byte
  EXPECT_EQ(platform::Utf8SequenceLength("\xc1\xbf", 0), 0u);          // overlong
  EXPECT_EQ(platform::Utf8SequenceLength("\xed\x9f\xbf", 0), 3u);      // U+D7FF
  EXPECT_EQ(platform::Utf8SequenceLength("\xed\xbf\xbf", 0), 0u);      // surrogate DFFF
}

}  // namespace
