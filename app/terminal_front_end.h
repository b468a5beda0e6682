// The window's stand-in on a terminal: status texts go to standard error one per line,
// the progress is a bar when standard error is a terminal, message boxes are lines
// "Caption: TEXT", the question is answered OK only when the operator said so, and the
// file dialog is answered only by a file given on the command line.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "app/clock.h"
#include "app/main_window_ui.h"
#include "app/tick_schedule.h"

namespace app {

struct TerminalAnswers {
  bool yes = false;                   // answer the OK/Cancel question with OK
  std::optional<std::string> choice;  // what the file dialog gives
};

class TerminalFrontEnd final : public MainWindowUi {
 public:
  TerminalFrontEnd(Clock& clock, std::ostream& out, bool drawProgressBar, TerminalAnswers answers);

  // Runs on every 10 ms tick.
  void SetTickHandler(std::function<void()> onTick) { onTick_ = std::move(onTick); }
  // Handles the descriptor events that are waiting, once; runs on every pump.
  void SetEventPoller(std::function<void()> pollEvents) { pollEvents_ = std::move(pollEvents); }

  // The timer starts counting from now.
  void StartTimer() { schedule_.Start(clock_.NowMs()); }

  void SetCaption(const std::string&) override {}
  void SetButtonCaption(const std::string&) override {}
  void SetButtonEnabled(bool) override {}
  void SetStatusText(const std::string& text) override;
  void SetProgressVisible(bool visible) override;
  void SetProgress(int position) override;
  void Refresh() override { out_.flush(); }
  void PumpMessages() override;
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon,
                   const std::string& detail) override;
  void ShowNotice(const std::string& text) override;
  bool AskOkCancel(const std::string& text, const std::string& caption) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;

 private:
  void Line(const std::string& text);
  void DrawBar();
  void ClearBar();

  std::function<void()> onTick_;
  std::function<void()> pollEvents_;
  Clock& clock_;
  std::ostream& out_;
  bool drawProgressBar_;
  TerminalAnswers answers_;
  TickSchedule schedule_;
  bool progressVisible_ = false;
  int progress_ = 0;
  bool barDrawn_ = false;
};

// The text as one line: line breaks at its end dropped, others turned into blanks.
std::string OneLine(const std::string& text);

// The text with every control byte other than CR and LF (and DEL) written as \xNN.
std::string Printable(const std::string& text);

}  // namespace app
