#include "app/terminal_front_end.h"

#include <algorithm>

#include "app/printer_vocabulary.h"

namespace app {
namespace {
constexpr int kBarWidth = 40;
}

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

TerminalFrontEnd::TerminalFrontEnd(Clock& clock, std::ostream& out, bool drawProgressBar,
                                   TerminalAnswers answers)
    : clock_(clock), out_(out), drawProgressBar_(drawProgressBar), answers_(std::move(answers)) {
  schedule_.Start(clock_.NowMs());
}

void TerminalFrontEnd::SetStatusText(const std::string& text) {
  Line(OneLine(text));
}

void TerminalFrontEnd::SetProgressVisible(bool visible) {
  if (!visible) ClearBar();
  progressVisible_ = visible;
  if (visible) DrawBar();
}

void TerminalFrontEnd::SetProgress(int position) {
  position = std::clamp(position, 0, 100);
  if (position == progress_ && barDrawn_) return;
  progress_ = position;
  if (progressVisible_) DrawBar();
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

bool TerminalFrontEnd::AskOkCancel(const std::string& text, const std::string& caption) {
  Line(caption + ": " + OneLine(text));
  Line(answers_.yes ? "  -> OK (--yes)" : "  -> Cancel (give --yes to answer OK)");
  return answers_.yes;
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
  ClearBar();
  out_ << Printable(text) << '\n';
  out_.flush();
  if (progressVisible_) DrawBar();
}

void TerminalFrontEnd::DrawBar() {
  if (!drawProgressBar_) return;
  const int filled = progress_ * kBarWidth / 100;
  out_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
       << std::string(static_cast<size_t>(kBarWidth - filled), '.') << "] " << progress_ << "%";
  out_.flush();
  barDrawn_ = true;
}

void TerminalFrontEnd::ClearBar() {
  if (!barDrawn_) return;
  out_ << "\r\033[K";
  barDrawn_ = false;
}

}  // namespace app
