// The progress of one update as the front end shows it: the bar's position within the
// section being written, and beside it the whole run's share done and the time the
// dialogue still takes at the least, counted from the plan's pacing.
#pragma once

#include <cstdint>

#include "workflow/flash_pacing.h"
#include "workflow/main_window_ui.h"

namespace app {

class RunProgress {
 public:
  enum class Milestone {
    kFirmware,     // the firmware step begins
    kPrinterBack,  // the printer is back from its restart and asks for the rest
    kMacChecked,   // the MAC check is done: the sections come next
  };

  RunProgress(MainWindowUi& ui, FlashPlan plan) : ui_(ui), plan_(std::move(plan)) {}

  const FlashPlan& Plan() const { return plan_; }

  void Reached(Milestone milestone);
  // Section index (in the plan) has sent sentChars of the hex text of its block at
  // offset; barPercent is the bar's position for that.
  void Section(size_t index, int64_t offset, int64_t sentChars, int barPercent);

  // The figures for a point of the run: msDone of the plan's total behind it.
  static ProgressFigures FiguresAt(uint64_t msDone, uint64_t totalMs);

 private:
  void Show(ProgressFigures figures);

  MainWindowUi& ui_;
  FlashPlan plan_;
};

}  // namespace app
