// The progress of an update as terminal lines: the line itself, the rule that gives a
// plain line at every tenth of a section (a log, a pipe), and the lines written and
// redrawn on a terminal within its width.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/main_window_ui.h"

namespace app {

// "Update... | font 40% | total 71% | 0:12 left": the step (cut short when long), the
// section and its share when one is being written, the run's share, the time left.
std::string ProgressLine(const std::string& step, const ProgressFigures& figures);
// The same within columns (0: no limit): without the step when the whole line does not
// fit, cut at the end when even that does not.
std::string ProgressLine(const std::string& step, const ProgressFigures& figures, size_t columns);

// The columns text takes on a terminal: one per character (a UTF-8 sequence).
size_t ColumnsOf(std::string_view text);
// text cut to at most columns columns, never inside a character; columns 0 is no limit.
std::string ClippedTo(const std::string& text, size_t columns);
// text broken at blanks into lines of at most columns columns; the lines after the
// first are indented two blanks more than the text, and a word longer than a line is
// cut. columns 0 is no limit (the text as one line).
std::vector<std::string> FoldedTo(const std::string& text, size_t columns);

// Off a terminal nothing can be redrawn: a line when a section begins and at every
// tenth of it.
class SectionTenths {
 public:
  // The figures to write a line for, their section share cut to the tenth; nullopt when
  // these figures need no line (between sections, or the same tenth again).
  std::optional<ProgressFigures> Next(const ProgressFigures& figures);
  // A new run of sections: the next section starts a line again.
  void Reset() { *this = {}; }

 private:
  std::string section_;
  int tenth_ = -1;
};

// The lines of a terminal: lines that stay, folded to its width, and a line or a block
// redrawn where it stands, each row cut to the width, so that the terminal never wraps a
// line and a redraw never leaves pieces of an earlier one. Every line is written with
// its control bytes escaped. Without a width (a log, a pipe, a terminal that gives none)
// lines are written as they are.
class InPlaceLines {
 public:
  // The terminal's width in columns now; 0 when unknown.
  using WidthSource = std::function<int()>;

  explicit InPlaceLines(std::ostream& out, WidthSource width = {})
      : out_(out), width_(std::move(width)) {}
  void SetWidthSource(WidthSource width) { width_ = std::move(width); }

  // The columns a row may fill: one less than the terminal's, since a row that fills the
  // last column leaves the cursor where terminals disagree; 0 for no limit.
  size_t Columns() const;

  // A line that stays, below the line DrawLine drew (which is cleared first and not
  // drawn again).
  void WriteLine(const std::string& line);

  // One line with the cursor at its end, so that other output can clear it first: drawn
  // over the line drawn before, and not again when it has not changed.
  void DrawLine(const std::string& line);
  // Removes the line DrawLine drew, if any; the cursor is at the start of its row then.
  void ClearLine();
  bool LineShown() const { return !drawn_.empty(); }

  // A block of lines, one per row, with the cursor below it: drawn over the block drawn
  // before, moving up by the rows drawn then.
  void DrawBlock(const std::vector<std::string>& lines);

 private:
  std::ostream& out_;
  WidthSource width_;
  std::string drawn_;  // the line on the screen, "" when none
  size_t blockRows_ = 0;
};

}  // namespace app
