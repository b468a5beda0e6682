#include "terminal/terminal_front_end.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "workflow/printer_vocabulary.h"

namespace app {
namespace {

// A step text longer than this is cut, so that the progress line fits a terminal line.
constexpr size_t kStepWidth = 32;
constexpr int kAnswerPollMs = 50;

std::string ItemsLine(const UpdateSummary& summary) {
  std::string line;
  for (const auto& [type, size] : summary.items) {
    if (!line.empty()) line += ", ";
    line += type + " " + std::to_string(size) + " bytes";
  }
  return line.empty() ? "no items" : line;
}

bool IsYes(std::string answer) {
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  answer.erase(0, answer.find_first_not_of(" \t"));
  answer.erase(answer.find_last_not_of(" \t\r") + 1);
  return answer == "y" || answer == "yes";
}

}  // namespace

std::string OneLine(const std::string& text) {
  std::string line = text;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
    line.pop_back();
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') continue;
    out.push_back(line[i] == '\r' || line[i] == '\n' ? ' ' : line[i]);
  }
  return out;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\r' && c != '\n') || byte == 0x7F) {
      out += "\\x" + ByteToHex(byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string Duration(uint64_t ms) {
  const uint64_t seconds = (ms + 999) / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

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

TerminalFrontEnd::TerminalFrontEnd(Clock& clock, std::ostream& out, bool onTerminal,
                                   TerminalAnswers answers)
    : clock_(clock), out_(out), onTerminal_(onTerminal), answers_(std::move(answers)) {
  schedule_.Start(clock_.NowMs());
}

void TerminalFrontEnd::SetStatusText(const std::string& text) {
  step_ = text;
  Line(OneLine(text));
  if (json_ != nullptr) json_->Step(OneLine(text));
}

void TerminalFrontEnd::SetProgressVisible(bool visible) {
  if (!visible) {
    ClearProgress();
    figures_.reset();
  }
  progressVisible_ = visible;
  plainSection_.clear();
  plainTenth_ = -1;
}

void TerminalFrontEnd::ShowProgressFigures(const ProgressFigures& figures) {
  figures_ = figures;
  if (json_ != nullptr) json_->Progress(OneLine(step_), figures);
  if (!progressVisible_) return;
  if (onTerminal_) {
    DrawProgress();
  } else {
    PlainProgress(figures);
  }
}

// Off a terminal nothing can be redrawn: a line when a section begins and at every
// tenth of it.
void TerminalFrontEnd::PlainProgress(const ProgressFigures& figures) {
  if (figures.section.empty()) return;
  const int tenth = figures.sectionPercent / 10;
  if (figures.section == plainSection_ && tenth <= plainTenth_) return;
  plainSection_ = figures.section;
  plainTenth_ = tenth;
  ProgressFigures shown = figures;
  shown.sectionPercent = tenth * 10;
  Line(ProgressLine(step_, shown));
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
                                  : "version \"" + summary.versionLabel + "\"";
  Line("Package: " + summary.packagePath + ", " + OneLine(version));
  Line("  " + ItemsLine(summary));
  Line("Printer: USB port " + (summary.portPath.empty() ? "unknown" : summary.portPath) +
       ", serial " + (summary.serial.empty() ? "none" : summary.serial) + " (" + summary.node +
       ")");
  Line("Writing takes " + Duration(summary.flashMs) +
       " at the least; the printer must stay connected until the end.");
  for (const std::string& warning : summary.warnings)
    Line("Warning: " + OneLine(warning));
  if (answers_.yes) {
    Line("Update this printer? [y/N] y (--yes)");
    return Confirmation::kYes;
  }
  if (!answers_.input) {
    Line("Update this printer? [y/N]");
    Line(
        "  Not updated: there is no terminal to answer at. Give --yes to update without "
        "the question.");
    return Confirmation::kCannotAsk;
  }
  return AskAtTerminal(whileWaiting);
}

// The events and the timer go on while the operator thinks, and a stop request ends the
// question as it ends any wait.
Confirmation TerminalFrontEnd::AskAtTerminal(const std::function<void()>& whileWaiting) {
  ClearProgress();
  out_ << "Update this printer? [y/N] ";
  out_.flush();
  try {
    for (;;) {
      const TypedLine typed = answers_.input(kAnswerPollMs);
      if (typed.state == TypedLine::State::kLine) {
        return IsYes(typed.text) ? Confirmation::kYes : Confirmation::kNo;
      }
      if (typed.state == TypedLine::State::kEnd) {
        out_ << '\n';
        return Confirmation::kNo;
      }
      PumpMessages();
      if (whileWaiting) whileWaiting();
    }
  } catch (...) {
    out_ << '\n';
    throw;
  }
}

bool TerminalFrontEnd::AskOkCancel(const std::string& text, const std::string& caption) {
  Line(caption + ": " + OneLine(text));
  Line(answers_.choice ? "  -> OK (--package FILE)" : "  -> Cancel (no --package FILE given)");
  return answers_.choice.has_value();
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
  ClearProgress();
  out_ << Printable(text) << '\n';
  out_.flush();
  if (progressVisible_ && onTerminal_ && figures_) DrawProgress();
}

void TerminalFrontEnd::DrawProgress() {
  if (!figures_) return;
  const std::string line = Printable(ProgressLine(step_, *figures_));
  if (line == drawn_) return;
  out_ << "\r\033[K" << line;
  out_.flush();
  drawn_ = line;
}

void TerminalFrontEnd::ClearProgress() {
  if (drawn_.empty()) return;
  out_ << "\r\033[K";
  drawn_.clear();
}

}  // namespace app
