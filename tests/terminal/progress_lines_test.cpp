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

// On a terminal of 40 or 80 columns no row reaches the last column: the progress line
// drops its step, then is cut; a block's rows are cut; lines that stay are folded.
TEST(ProgressLinesTest, LinesKeepWithinTheTerminalsWidth) {
  const app::ProgressFigures figures{"bootloader", 40, 71, 12001};
  const std::string whole = "Update... | bootloader 40% | total 71% | 0:13 left";
  for (const int width : {40, 80}) {
    std::ostringstream out;
    app::InPlaceLines lines(out, [width] { return width; });
    ASSERT_EQ(lines.Columns(), static_cast<size_t>(width - 1));
    const std::string line = app::ProgressLine("Update...", figures, lines.Columns());
    EXPECT_EQ(line, width == 80 ? whole : "bootloader 40% | total 71% | 0:13 left");
    lines.DrawLine(line);
    lines.WriteLine(
        "Printer: USB port 1-1.4, serial VRQSIM0001 (/dev/usb/lp0), version label "
        "\"Model 5 v2.3 with a long name\"");
    lines.DrawBlock({"1-1.4  " + whole + " and more", "1-1.5  done"});
    // Every row between two line breaks or carriage returns, without its escapes.
    std::string text = out.str();
    for (const char* escape : {"\033[K", "\033[2A"}) {
      for (size_t at = text.find(escape); at != std::string::npos; at = text.find(escape))
        text.erase(at, std::string(escape).size());
    }
    size_t rows = 0;
    for (size_t start = 0; start < text.size();) {
      const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
      EXPECT_LT(end - start, static_cast<size_t>(width)) << text.substr(start, end - start);
      rows += end > start ? 1 : 0;
      start = end + 1;
    }
    EXPECT_EQ(rows, width == 80 ? 5u : 6u) << text;
  }
  EXPECT_EQ(app::ProgressLine("Update...", figures, 20), "bootloader 40% | tot");
  EXPECT_EQ(app::ProgressLine("Update...", figures, 0), whole);
}

// A row is cut between characters, never inside one; a word longer than a row is cut.
TEST(ProgressLinesTest, CuttingAndFoldingKeepCharactersWhole) {
  EXPECT_EQ(app::ClippedTo("Größe 40%", 3), "Grö");
  EXPECT_EQ(app::ColumnsOf("Größe"), 5u);
  EXPECT_EQ(app::FoldedTo("  Error: a very long cause", 12),
            (std::vector<std::string>{"  Error: a", "    very", "    long", "    cause"}));
  EXPECT_EQ(app::FoldedTo("abcdefghij", 4),
            (std::vector<std::string>{"abcd", "  ef", "  gh", "  ij"}));
  EXPECT_EQ(app::FoldedTo("short", 0), std::vector<std::string>{"short"});
}

}  // namespace
}  // namespace apptest
