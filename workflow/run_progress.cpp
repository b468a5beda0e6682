#include "workflow/run_progress.h"

#include <algorithm>

namespace app {

ProgressFigures RunProgress::FiguresAt(uint64_t msDone, uint64_t totalMs) {
  ProgressFigures figures;
  msDone = std::min(msDone, totalMs);
  figures.msLeft = totalMs - msDone;
  figures.runPercent = totalMs == 0 ? 100 : static_cast<int>(msDone * 100 / totalMs);
  return figures;
}

void RunProgress::Reached(Milestone milestone) {
  uint64_t done = 0;
  switch (milestone) {
    case Milestone::kFirmware:
      break;
    case Milestone::kPrinterBack:
      done = wait::kFirmwareStartMs;
      break;
    case Milestone::kMacChecked:
      done = wait::kFirmwareStartMs + wait::kSettleMs;
      break;
  }
  Show(FiguresAt(done, plan_.TotalMs()));
}

void RunProgress::Section(size_t index, int64_t offset, int64_t sentChars, int barPercent) {
  ui_.SetProgress(barPercent);
  const uint64_t pieces = static_cast<uint64_t>(plan_.PiecesDone(index, offset, sentChars));
  ProgressFigures figures = FiguresAt(
      wait::kFirmwareStartMs + wait::kSettleMs + pieces * pacing::kPieceMs, plan_.TotalMs());
  if (index < plan_.Sections().size()) figures.section = plan_.Sections()[index].type;
  figures.sectionPercent = std::clamp(barPercent, 0, 100);
  Show(std::move(figures));
}

void RunProgress::Show(ProgressFigures figures) {
  ui_.ShowProgressFigures(figures);
}

}  // namespace app
