#include "terminal/progress_lines.h"

#include <algorithm>

#include "platform/printable_text.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

// A step text longer than this is cut, so that the progress line fits a terminal line.
constexpr size_t kStepWidth = 32;

// Back to the start of the row, and the row cleared.
constexpr char kClearRow[] = "\r\033[K";

bool StartsCharacter(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// The byte offset at which the character after the first columns characters begins.
size_t OffsetOfColumn(std::string_view text, size_t columns) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!StartsCharacter(text[i])) continue;
    if (seen == columns) return i;
    ++seen;
  }
  return text.size();
}

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

std::string ProgressLine(const std::string& step, const ProgressFigures& figures, size_t columns) {
  const std::string whole = ProgressLine(step, figures);
  if (columns == 0 || ColumnsOf(whole) <= columns) return whole;
  return ClippedTo(ProgressLine("", figures), columns);
}

size_t ColumnsOf(std::string_view text) {
  size_t columns = 0;
  for (char byte : text)
    columns += StartsCharacter(byte) ? 1 : 0;
  return columns;
}

std::string ClippedTo(const std::string& text, size_t columns) {
  if (columns == 0) return text;
  return text.substr(0, OffsetOfColumn(text, columns));
}

std::vector<std::string> FoldedTo(const std::string& text, size_t columns) {
  if (columns == 0 || ColumnsOf(text) <= columns) return {text};
  const size_t indent = std::min(text.find_first_not_of(' '), text.size());
  const std::string more(std::min(indent + 2, columns / 2), ' ');
  std::vector<std::string> lines;
  std::string_view rest(text);
  std::string lead;  // the indent of the line being made: the text's own on the first
  while (!rest.empty()) {
    const size_t room = columns - ColumnsOf(lead);
    if (ColumnsOf(rest) <= room) {
      lines.push_back(lead + std::string(rest));
      break;
    }
    // The last blank that leaves the line within its room; none: the word is cut.
    size_t cut = OffsetOfColumn(rest, room);
    const size_t blank = rest.substr(0, cut + 1).find_last_of(' ');
    if (blank != std::string_view::npos &&
        rest.substr(0, blank).find_first_not_of(' ') != std::string_view::npos) {
      cut = blank;
    }
    std::string_view piece = rest.substr(0, cut);
    while (!piece.empty() && piece.back() == ' ')
      piece.remove_suffix(1);
    lines.push_back(lead + std::string(piece));
    rest.remove_prefix(cut);
    while (!rest.empty() && rest.front() == ' ')
      rest.remove_prefix(1);
    lead = more;
  }
  return lines;
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

size_t InPlaceLines::Columns() const {
  const int width = width_ ? width_() : 0;
  return width > 1 ? static_cast<size_t>(width - 1) : 0;
}

void InPlaceLines::WriteLine(const std::string& line) {
  ClearLine();
  const size_t columns = Columns();
  // Each line of a text of several on its own: the terminal breaks them where they end.
  for (size_t start = 0; start <= line.size();) {
    size_t end = std::min(line.find('\n', start), line.size());
    std::string piece = line.substr(start, end - start);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
    if (end < line.size() || !piece.empty() || start == 0) {
      for (const std::string& row : FoldedTo(platform::Printable(piece), columns))
        out_ << row << '\n';
    }
    start = end + 1;
  }
  out_.flush();
}

void InPlaceLines::DrawLine(const std::string& line) {
  const std::string shown = ClippedTo(platform::Printable(line), Columns());
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
  const size_t columns = Columns();
  if (blockRows_ > 0) out_ << "\033[" << blockRows_ << "A";
  for (const std::string& line : lines)
    out_ << kClearRow << ClippedTo(platform::Printable(line), columns) << '\n';
  out_.flush();
  blockRows_ = lines.size();
}

}  // namespace app
