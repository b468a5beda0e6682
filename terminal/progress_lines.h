// The progress of an update as terminal lines: the line itself, the rule that gives a
// plain line at every tenth of a section (a log, a pipe), and the lines redrawn in place
// on a terminal.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "workflow/main_window_ui.h"

namespace app {

// "Update... | font 40% | total 71% | 0:12 left": the step (cut short when long), the
// section and its share when one is being written, the run's share, the time left.
std::string ProgressLine(const std::string& step, const ProgressFigures& figures);

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

// Lines redrawn where they stand on a terminal; every line is written with its control
// bytes escaped.
class InPlaceLines {
 public:
  explicit InPlaceLines(std::ostream& out) : out_(out) {}

  // One line with the cursor at its end, so that other output can clear it first: drawn
  // over the line drawn before, and not again when it has not changed.
  void DrawLine(const std::string& line);
  // Removes the line DrawLine drew, if any; the cursor is at the start of its row then.
  void ClearLine();
  bool LineShown() const { return !drawn_.empty(); }

  // A block of lines, one per row, with the cursor below it: drawn over the block drawn
  // before.
  void DrawBlock(const std::vector<std::string>& lines);

 private:
  std::ostream& out_;
  std::string drawn_;  // the line on the screen, "" when none
  size_t blockRows_ = 0;
};

}  // namespace app
