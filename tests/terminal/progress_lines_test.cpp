// The progress of an update as lines: what a line says, when a plain one is due, and the
// lines a terminal redraws in place.
#include "terminal/progress_lines.h"

#include <gtest/gtest.h>

#include <sstream>

#include "workflow/text_tools.h"

namespace apptest {
namespace {

TEST(ProgressLinesTest, ProgressLineNamesStepSectionRunAndTimeLeft) {
  EXPECT_EQ(app::ProgressLine("Update...", {"font", 40, 71, 12001}),
            "Update... | font 40% | total 71% | 0:13 left");
  EXPECT_EQ(app::ProgressLine("wait frw start", {"", 0, 0, 65000}),
            "wait frw start | total 0% | 1:05 left");
  EXPECT_EQ(app::ProgressLine(std::string(40, 'x') + "\r\n", {"", 0, 5, 0}),
            std::string(29, 'x') + "... | total 5% | 0:00 left");
  EXPECT_EQ(app::ProgressLine("", {"", 0, 0, 1000}), "total 0% | 0:01 left");
  EXPECT_EQ(app::Duration(3600000 + 62000), "1:01:02");
}

// A line when a section begins and at every tenth of it, each section on its own.
TEST(ProgressLinesTest, APlainLineAtEveryTenthOfEachSection) {
  app::SectionTenths tenths;
  std::vector<int> shown;
  for (const auto& [section, percent] : std::vector<std::pair<const char*, int>>{
           {"", 0}, {"font", 0}, {"font", 9}, {"font", 10}, {"font", 35}, {"system", 0}}) {
    if (auto figures = tenths.Next({section, percent, 0, 0}))
      shown.push_back(figures->sectionPercent);
  }
  EXPECT_EQ(shown, (std::vector<int>{0, 10, 30, 0}));
  tenths.Reset();
  EXPECT_TRUE(tenths.Next({"system", 5, 0, 0}).has_value());
}

// A block of lines, one per printer, is drawn over itself; every line is escaped.
TEST(ProgressLinesTest, ABlockIsRedrawnOverItself) {
  std::ostringstream out;
  app::InPlaceLines lines(out);
  lines.DrawBlock({"1-1.4  a", "1-1.5  b\x1b"});
  lines.DrawBlock({"1-1.4  c", "1-1.5  d"});
  EXPECT_EQ(out.str(),
            "\r\033[K1-1.4  a\n\r\033[K1-1.5  b\\x1B\n"
            "\033[2A\r\033[K1-1.4  c\n\r\033[K1-1.5  d\n");
}

}  // namespace
}  // namespace apptest
