// The window's stand-in on a terminal: status texts go to standard error one per line,
// message boxes are lines "Caption: TEXT" with the detail indented below, the question
// whether to pick a package file is answered by the file given on the command line,
// and the update is confirmed by the operator at the terminal or by --yes beforehand.
// Progress: on a terminal one line, redrawn in place, that names the step, the section
// and its share, the whole run's share and the time left; elsewhere (a log, a pipe) a
// plain line at every tenth of a section.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "terminal/json_events.h"
#include "terminal/progress_lines.h"
#include "terminal/terminal_question.h"
#include "workflow/clock.h"
#include "workflow/main_window_ui.h"
#include "workflow/tick_schedule.h"

namespace app {

struct TerminalAnswers {
  bool yes = false;                   // --yes: the update is confirmed beforehand
  std::optional<std::string> choice;  // --package: what the file dialog gives
  TerminalInput input;                // empty when there is no terminal to ask at
  bool allowWarnings = false;         // --allow-warnings: go on with a package's warnings
};

class TerminalFrontEnd final : public MainWindowUi {
 public:
  // onTerminal: out is a terminal, where a line can be redrawn in place.
  TerminalFrontEnd(Clock& clock, std::ostream& out, bool onTerminal, TerminalAnswers answers);

  // Runs on every 10 ms tick.
  void SetTickHandler(std::function<void()> onTick) { onTick_ = std::move(onTick); }
  // Handles the descriptor events that are waiting, once; runs on every pump.
  void SetEventPoller(std::function<void()> pollEvents) { pollEvents_ = std::move(pollEvents); }
  // Also tells steps and progress as JSON (--json); nullptr for no one.
  void SetJsonEvents(JsonEvents* events) { json_ = events; }

  // The timer starts counting from now.
  void StartTimer() { schedule_.Start(clock_.NowMs()); }

  // A line of the program's own (the dialogue under --verbose), kept clear of the
  // progress line.
  void WriteLine(const std::string& text) { Line(text); }

  void SetCaption(const std::string&) override {}
  void SetButtonCaption(const std::string&) override {}
  void SetButtonEnabled(bool) override {}
  void SetStatusText(const std::string& text) override;
  void SetProgressVisible(bool visible) override;
  void SetProgress(int) override {}
  void ShowProgressFigures(const ProgressFigures& figures) override;
  void Refresh() override { out_.flush(); }
  void PumpMessages() override;
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon,
                   const std::string& detail) override;
  void ShowNotice(const std::string& text) override;
  Confirmation ConfirmUpdate(const UpdateSummary& summary,
                             const std::function<void()>& whileWaiting) override;
  bool AskOkCancel(const std::string& text, const std::string& caption) override;
  bool AcceptWarnings(const std::string& question,
                      const std::vector<std::string>& warnings) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;

 private:
  void Line(const std::string& text);
  void DrawProgress();

  std::function<void()> onTick_;
  std::function<void()> pollEvents_;
  Clock& clock_;
  std::ostream& out_;
  bool onTerminal_;
  TerminalAnswers answers_;
  TickSchedule schedule_;
  JsonEvents* json_ = nullptr;
  std::string step_;  // the last status text
  bool progressVisible_ = false;
  std::optional<ProgressFigures> figures_;
  InPlaceLines progressLine_;
  SectionTenths plainTenths_;
};

}  // namespace app
