#include "terminal/terminal_front_end.h"

#include <algorithm>

#include "platform/printable_text.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

std::string ItemsLine(const UpdateSummary& summary) {
  std::string line;
  for (const auto& [type, size] : summary.items) {
    if (!line.empty()) line += ", ";
    line += type + " " + std::to_string(size) + " bytes";
  }
  return line.empty() ? "no items" : line;
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(Clock& clock, std::ostream& out, bool onTerminal,
                                   TerminalAnswers answers)
    : clock_(clock),
      out_(out),
      onTerminal_(onTerminal),
      answers_(std::move(answers)),
      progressLine_(out) {
  schedule_.Start(clock_.NowMs());
}

void TerminalFrontEnd::SetStatusText(const std::string& text) {
  step_ = text;
  Line(OneLine(text));
  if (json_ != nullptr) json_->Step(OneLine(text));
}

void TerminalFrontEnd::SetProgressVisible(bool visible) {
  if (!visible) {
    progressLine_.ClearLine();
    figures_.reset();
  }
  progressVisible_ = visible;
  plainTenths_.Reset();
}

void TerminalFrontEnd::ShowProgressFigures(const ProgressFigures& figures) {
  figures_ = figures;
  if (json_ != nullptr) json_->Progress(OneLine(step_), figures);
  if (!progressVisible_) return;
  if (onTerminal_) {
    DrawProgress();
  } else if (std::optional<ProgressFigures> shown = plainTenths_.Next(figures)) {
    Line(ProgressLine(step_, *shown));
  }
}

void TerminalFrontEnd::PumpMessages() {
  if (pollEvents_) pollEvents_();
  if (schedule_.Take(clock_.NowMs()) && onTick_) onTick_();
}

void TerminalFrontEnd::ShowMessage(const std::string& text, const std::string& caption, BoxIcon,
                                   const std::string& detail) {
  Line(caption + ": " + OneLine(text));
  // A detail of two lines (the cause, then what to do) keeps them, each indented.
  for (size_t start = 0; start < detail.size();) {
    size_t end = std::min(detail.find('\n', start), detail.size());
    if (end > start) Line("  " + OneLine(detail.substr(start, end - start)));
    start = end + 1;
  }
}

void TerminalFrontEnd::ShowNotice(const std::string& text) {
  Line(OneLine(text));
}

Confirmation TerminalFrontEnd::ConfirmUpdate(const UpdateSummary& summary,
                                             const std::function<void()>& whileWaiting) {
  const std::string version = summary.versionLabel.empty()
                                  ? "no version label"
                                  : "version \"" + platform::Printable(summary.versionLabel) + "\"";
  Line("Package: " + summary.packagePath + ", " + version);
  Line("  " + ItemsLine(summary));
  Line("Printer: USB port " + (summary.portPath.empty() ? "unknown" : summary.portPath) +
       ", serial " + (summary.serial.empty() ? "none" : summary.serial) + " (" + summary.node +
       ")");
  Line("Writing takes " + Duration(summary.flashMs) +
       " at the least; the printer must stay connected until the end.");
  for (const std::string& warning : summary.warnings)
    Line("Warning: " + OneLine(warning));
  // The events and the timer go on while the operator thinks, and a stop request ends the
  // question as it ends any wait.
  progressLine_.ClearLine();
  return AskAtTerminal(out_, "Update this printer? [y/N]", answers_.yes, answers_.input, [&] {
    PumpMessages();
    if (whileWaiting) whileWaiting();
    return true;
  });
}

bool TerminalFrontEnd::AskOkCancel(const std::string& text, const std::string& caption) {
  Line(caption + ": " + OneLine(text));
  Line(answers_.choice ? "  -> OK (--package FILE)" : "  -> Cancel (no --package FILE given)");
  return answers_.choice.has_value();
}

// Answered by the command line, as the file question is: a script that made a package
// with warnings on purpose says so beforehand.
bool TerminalFrontEnd::AcceptWarnings(const std::string& question,
                                      const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings)
    Line("Warning: " + OneLine(warning));
  Line(question);
  Line(answers_.allowWarnings ? "  -> yes (--allow-warnings)"
                              : "  -> no (give --allow-warnings to go on all the same)");
  return answers_.allowWarnings;
}

std::optional<std::string> TerminalFrontEnd::ChooseFile(const FileDialogRequest& request) {
  if (!answers_.choice) {
    Line(request.title + ": no file given (use --package FILE)");
    return std::nullopt;
  }
  Line(request.title + ": " + *answers_.choice);
  return answers_.choice;
}

// Printer replies and package texts reach these lines: their control bytes must not
// reach the terminal, where an escape sequence could clear the screen or worse.
void TerminalFrontEnd::Line(const std::string& text) {
  progressLine_.WriteLine(text);
  if (progressVisible_ && onTerminal_ && figures_) DrawProgress();
}

void TerminalFrontEnd::DrawProgress() {
  if (figures_) progressLine_.DrawLine(ProgressLine(step_, *figures_, progressLine_.Columns()));
}

}  // namespace app
