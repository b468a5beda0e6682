#include "workflow/text_tools.h"

#include <gtest/gtest.h>

namespace apptest {
namespace {

TEST(TextToolsTest, LinesNumbersAndNames) {
  EXPECT_EQ(app::TextLine("a \r\nb\nc\rd", 0), "a ");
  EXPECT_EQ(app::TextLine("a \r\nb\nc\rd", 1), "b");
  EXPECT_EQ(app::TextLine("a \r\nb\nc\rd", 3), "d");
  EXPECT_EQ(app::TextLine("one\r\n", 1), "");
  EXPECT_EQ(app::TextLine("a\n\nb", 2), "b");
  EXPECT_EQ(app::TextLine("", 0), "");

  EXPECT_EQ(app::DecimalOrDefault("-12", 0), -12);
  EXPECT_EQ(app::DecimalOrDefault("1x", 0), 0);
  EXPECT_EQ(app::DecimalOrDefault("99999999999", 0), 0);
  EXPECT_EQ(app::DecimalOrDefault("", 5), 5);

  EXPECT_EQ(app::ReplaceExtension("/d/a.b.fwp", ".run"), "/d/a.b.run");
  EXPECT_EQ(app::ReplaceExtension("/d.x/pkg", ".run"), "/d.x/pkg.run");
  EXPECT_EQ(app::BaseNameWithoutExtension("/opt/vrq/vrq-update"), "vrq-update");
}

// Hex digits, and the escaper of a log that shows every byte.
TEST(TextToolsTest, HexDigitsAndEscapes) {
  EXPECT_EQ(app::ByteToHex(0x0F), "0F");
  EXPECT_EQ(app::ByteToHex(0xA0), "A0");
  const std::string bytes("OK\x00\x1b\x7f\xff\\\r\n\xc3\xbc", 11);
  EXPECT_EQ(app::Escaped(bytes, app::Escape::kAllButPrintableAscii),
            "OK\\x00\\x1B\\x7F\\xFF\\\\\\r\\n\\xC3\\xBC");
  EXPECT_EQ(app::OneLine("two\r\nlines\nhere\r\n"), "two lines here");
  EXPECT_EQ(app::SecondsText(60000), "60 s");
}

// Columns line up by the widest cell; an empty last cell leaves no blanks behind.
TEST(TextToolsTest, AlignedColumns) {
  EXPECT_EQ(app::AlignedColumns({{"PORT", "SERIAL"}, {"1-1.10", ""}, {"2", "VRQ1", "x"}}),
            "PORT    SERIAL\n"
            "1-1.10\n"
            "2       VRQ1    x\n");
  EXPECT_EQ(app::AlignedColumns({}), "");
  // A character a column, whatever its length in UTF-8.
  EXPECT_EQ(app::AlignedColumns({{"SERIAL", "X"}, {"caf\xc3\xa9", "1"}}),
            "SERIAL  X\n"
            "caf\xc3\xa9    1\n");
}

}  // namespace
}  // namespace apptest
