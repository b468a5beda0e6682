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

// Columns line up by the widest cell; an empty last cell leaves no blanks behind.
TEST(TextToolsTest, AlignedColumns) {
  EXPECT_EQ(app::AlignedColumns({{"PORT", "SERIAL"}, {"1-1.10", ""}, {"2", "VRQ1", "x"}}),
            "PORT    SERIAL\n"
            "1-1.10\n"
            "2       VRQ1    x\n");
  EXPECT_EQ(app::AlignedColumns({}), "");
}

}  // namespace
}  // namespace apptest
