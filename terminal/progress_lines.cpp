#include "terminal/progress_lines.h"

#include "platform/printable_text.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

// A step text longer than this is cut, so that the progress line fits a terminal line.
constexpr size_t kStepWidth = 32;

// Back to the start of the row, and the row cleared.
constexpr char kClearRow[] = "\r\033[K";

}  // namespace

std::string ProgressLine(const std::string& step, const ProgressFigures& figures) {
  std::string line = OneLine(step);
  if (line.size() > kStepWidth) line = line.substr(0, kStepWidth - 3) + "...";
  if (!line.empty()) line += " | ";
  if (!figures.section.empty()) {
    line += figures.section + " " + std::to_string(figures.sectionPercent) + "% | ";
  }
  return line + "total " + std::to_string(figures.runPercent) + "% | " + Duration(figures.msLeft) +
         " left";
}

std::optional<ProgressFigures> SectionTenths::Next(const ProgressFigures& figures) {
  if (figures.section.empty()) return std::nullopt;
  const int tenth = figures.sectionPercent / 10;
  if (figures.section == section_ && tenth <= tenth_) return std::nullopt;
  section_ = figures.section;
  tenth_ = tenth;
  ProgressFigures shown = figures;
  shown.sectionPercent = tenth * 10;
  return shown;
}

void InPlaceLines::DrawLine(const std::string& line) {
  const std::string shown = platform::Printable(line);
  if (shown == drawn_) return;
  out_ << kClearRow << shown;
  out_.flush();
  drawn_ = shown;
}

void InPlaceLines::ClearLine() {
  if (drawn_.empty()) return;
  out_ << kClearRow;
  drawn_.clear();
}

void InPlaceLines::DrawBlock(const std::vector<std::string>& lines) {
  if (blockRows_ > 0) out_ << "\033[" << blockRows_ << "A";
  for (const std::string& line : lines)
    out_ << kClearRow << platform::Printable(line) << '\n';
  out_.flush();
  blockRows_ = lines.size();
}

}  // namespace app
