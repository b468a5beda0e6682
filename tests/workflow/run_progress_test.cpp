// The progress figures at a point of the run, and the time left they give against what a
// run on the virtual clock really takes.
#include "workflow/run_progress.h"

#include <gtest/gtest.h>

#include "workflow_fixture.h"

namespace apptest {
namespace {

TEST(RunProgressTest, FiguresAtAPointOfTheRun) {
  app::ProgressFigures figures = app::RunProgress::FiguresAt(2500, 10000);
  EXPECT_EQ(figures.runPercent, 25);
  EXPECT_EQ(figures.msLeft, 7500u);
  EXPECT_EQ(app::RunProgress::FiguresAt(12000, 10000).msLeft, 0u);
  EXPECT_EQ(app::RunProgress::FiguresAt(0, 0).runPercent, 100);
}

// The time left is what the pacing still costs: never more than the run really takes
// from there on, and short of it by no more than the printer's own time (its answer to
// each block).
TEST_F(WorkflowTest, TheTimeLeftIsTheFloorOfWhatTheRunStillTakes) {
  WritePackage({Item("frw", "fw.bin", {1}), Item("system", "s.bin", Bytes(1500000)),
                Item("font", "f.bin", Bytes(140000))});
  uint64_t linkAt = 0;
  printer.onLine = [&](const std::string& line) {
    if (line == "LINK") linkAt = clock.now;
  };
  ui.onTick = [this] { form->Timer1Timer(); };
  form->RunUpdate();
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"Info: Update Success!"});
  ASSERT_GT(ui.figures.size(), 100u);
  EXPECT_EQ(ui.figures.front().runPercent, 0);
  EXPECT_EQ(ui.figures.back().section, "font");
  EXPECT_EQ(ui.figures.back().sectionPercent, 100);
  EXPECT_EQ(ui.figures.back().msLeft, 500u);  // the sleep before "LINK"
  EXPECT_GE(ui.figures.back().runPercent, 96);
  uint64_t mostShort = 0;
  for (size_t i = 1; i < ui.figures.size(); ++i) {
    EXPECT_LE(ui.figures[i].msLeft, ui.figures[i - 1].msLeft);
    EXPECT_GE(ui.figures[i].runPercent, ui.figures[i - 1].runPercent);
    if (ui.figures[i].section.empty()) continue;
    // "LINK" goes out once the 500 ms sleep before it is over.
    const uint64_t reallyLeft = linkAt - ui.figureTimes[i];
    ASSERT_GE(reallyLeft, ui.figures[i].msLeft) << i;
    mostShort = std::max(mostShort, reallyLeft - ui.figures[i].msLeft);
  }
  // Four blocks, each answered 50 ms after its last piece and seen a tick or two later.
  EXPECT_LE(mostShort, 4u * (printer.blockReplyMs + 30));
}

}  // namespace
}  // namespace apptest
