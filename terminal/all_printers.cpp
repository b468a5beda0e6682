#include "terminal/all_printers.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "terminal/printer_choice.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

constexpr int kPollMs = 100;
constexpr uint64_t kRedrawMs = 100;

void SkipBlanks(std::string_view text, size_t& i) {
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A string at text[i] (its opening quote); false when it is broken.
bool ReadString(std::string_view text, size_t& i, std::string& out) {
  ++i;
  while (i < text.size() && text[i] != '"') {
    if (text[i] != '\\') {
      out += text[i++];
      continue;
    }
    if (++i >= text.size()) return false;
    const char escape = text[i++];
    switch (escape) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'u': {
        if (i + 4 > text.size()) return false;
        const std::string digits(text.substr(i, 4));
        if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        AppendUtf8(out, static_cast<uint32_t>(std::stoul(digits, nullptr, 16)));
        i += 4;
        break;
      }
      default:
        out += escape;
    }
  }
  if (i >= text.size()) return false;
  ++i;
  return true;
}

// Skips an object or array at text[i]; false when it does not end.
bool SkipNested(std::string_view text, size_t& i) {
  int depth = 0;
  std::string ignored;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      if (!ReadString(text, i, ignored)) return false;
      continue;
    }
    if (c == '{' || c == '[') ++depth;
    if (c == '}' || c == ']') --depth;
    ++i;
    if (depth == 0) return true;
  }
  return false;
}

}  // namespace

std::map<std::string, std::string> ReadJsonMembers(std::string_view text) {
  std::map<std::string, std::string> members;
  size_t i = 0;
  SkipBlanks(text, i);
  if (i >= text.size() || text[i++] != '{') return {};
  for (;;) {
    SkipBlanks(text, i);
    if (i < text.size() && text[i] == '}') return members;
    std::string key, value;
    if (i >= text.size() || text[i] != '"' || !ReadString(text, i, key)) return {};
    SkipBlanks(text, i);
    if (i >= text.size() || text[i++] != ':') return {};
    SkipBlanks(text, i);
    if (i >= text.size()) return {};
    if (text[i] == '"') {
      if (!ReadString(text, i, value)) return {};
      members[key] = value;
    } else if (text[i] == '{' || text[i] == '[') {
      if (!SkipNested(text, i)) return {};
    } else {
      const size_t start = i;
      while (i < text.size() && text[i] != ',' && text[i] != '}' &&
             !std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
      members[key] = std::string(text.substr(start, i - start));
    }
    SkipBlanks(text, i);
    if (i < text.size() && text[i] == ',') {
      ++i;
    } else if (i >= text.size() || text[i] != '}') {
      return {};
    }
  }
}

AllPrinters::AllPrinters(std::vector<PrinterInfo> printers, std::vector<std::string> childArgs,
                         ChildRunner& runner, Clock& clock, std::ostream& out, bool onTerminal)
    : childArgs_(std::move(childArgs)),
      runner_(runner),
      clock_(clock),
      out_(out),
      onTerminal_(onTerminal),
      rows_(out) {
  for (PrinterInfo& printer : printers) {
    Job job;
    job.printer = std::move(printer);
    jobs_.push_back(std::move(job));
  }
}

Confirmation AllPrinters::Confirm(const std::string& packageName, bool yes,
                                  const TerminalInput& input, const StopSource& stops) {
  const StopRequests before = stops ? stops() : StopRequests{};
  // A request to stop while the question waits is a no.
  const auto goOn = [&] {
    if (!stops) return true;
    const StopRequests now = stops();
    return now.interrupts == before.interrupts && now.terminations == before.terminations;
  };
  std::vector<PrinterInfo> printers;
  for (const Job& job : jobs_)
    printers.push_back(job.printer);
  out_ << "Package: " << Escaped(packageName, Escape::kControlBytes)
       << "\nPrinters: " << DescribePrinters(printers) << '\n';
  return AskAtTerminal(out_, "Update all " + std::to_string(jobs_.size()) + " printers? [y/N]", yes,
                       input, goOn);
}

int AllPrinters::Run(const StopSource& stops) {
  if (stops) forwarded_ = stops();
  std::vector<size_t> started;  // the job of every child, in the runner's order
  for (size_t i = 0; i < jobs_.size(); ++i) {
    Job& job = jobs_[i];
    std::vector<std::string> args = childArgs_;
    args.insert(args.end(), {"--device", job.printer.portPath, "--json", "--yes"});
    job.startMs = clock_.NowMs();
    std::string error;
    if (runner_.Start(args, error)) {
      job.started = true;
      started.push_back(i);
    } else {
      job.done = true;
      job.exitStatus = 1;
      job.lastError = "could not start: " + error;
      job.endMs = job.startMs;
    }
  }
  while (!runner_.AllExited()) {
    for (ChildRunner::Event event : runner_.Poll(kPollMs)) {
      event.child = started.at(event.child);
      Handle(event);
    }
    ForwardStops(stops);
    if (onTerminal_ && clock_.NowMs() - lastDrawMs_ >= kRedrawMs) Redraw();
  }
  if (onTerminal_) Redraw();
  out_ << Table();
  out_.flush();
  int status = 0;
  for (const Job& job : jobs_)
    status = std::max(status, job.exitStatus);
  return status;
}

void AllPrinters::ForwardStops(const StopSource& stops) {
  if (!stops) return;
  const StopRequests now = stops();
  for (; forwarded_.interrupts < now.interrupts; ++forwarded_.interrupts)
    runner_.Interrupt();
  for (; forwarded_.terminations < now.terminations; ++forwarded_.terminations)
    runner_.Terminate();
}

void AllPrinters::Handle(const ChildRunner::Event& event) {
  Job& job = jobs_.at(event.child);
  switch (event.kind) {
    case ChildRunner::Event::Kind::kOutputLine:
      HandleJson(job, ReadJsonMembers(event.text));
      break;
    case ChildRunner::Event::Kind::kErrorLine:
      if (!event.text.empty()) job.lastError = event.text;
      break;
    case ChildRunner::Event::Kind::kExited:
      job.done = true;
      job.exitStatus = event.status;
      job.endMs = clock_.NowMs();
      if (onTerminal_) Redraw();
      break;
  }
}

void AllPrinters::HandleJson(Job& job, const std::map<std::string, std::string>& members) {
  const auto member = [&](const char* key) {
    auto found = members.find(key);
    return found == members.end() ? std::string() : found->second;
  };
  const auto number = [&](const char* key) {
    const std::string text = member(key);
    return text.empty() || text == "null" ? 0.0 : std::strtod(text.c_str(), nullptr);
  };
  const std::string event = member("event");
  if (event == "step") {
    job.status = member("status");
    Show(job, true);
  } else if (event == "progress") {
    ProgressFigures figures;
    figures.section = member("section") == "null" ? std::string() : member("section");
    figures.sectionPercent = static_cast<int>(number("section_percent"));
    figures.runPercent = static_cast<int>(number("run_percent"));
    figures.msLeft = static_cast<uint64_t>(number("seconds_left") * 1000 + 0.5);
    job.figures = figures;
    Show(job, false);
  } else if (event == "outcome") {
    job.message = member("message");
    job.detail = member("detail");
  }
}

// Off a terminal: a line when a printer reaches a step, and at every tenth of a section.
void AllPrinters::Show(Job& job, bool stepChanged) {
  if (onTerminal_) return;
  const std::string prefix = job.printer.portPath + ": ";
  if (stepChanged) {
    out_ << Escaped(prefix + OneLine(job.status), Escape::kControlBytes) << '\n';
    return;
  }
  if (!job.figures) return;
  if (std::optional<ProgressFigures> shown = job.tenths.Next(*job.figures)) {
    out_ << Escaped(prefix + ProgressLine(job.status, *shown), Escape::kControlBytes) << '\n';
  }
}

void AllPrinters::Redraw() {
  std::vector<std::string> lines;
  for (const Job& job : jobs_) {
    std::string line = job.printer.portPath + "  ";
    if (job.done) {
      line += job.message.empty() ? (job.exitStatus == 0 ? "done" : "ended") : OneLine(job.message);
      if (job.exitStatus != 0) line += " (exit status " + std::to_string(job.exitStatus) + ")";
    } else {
      line += ProgressLine(job.status, job.figures.value_or(ProgressFigures{}));
    }
    lines.push_back(line);
  }
  rows_.DrawBlock(lines);
  lastDrawMs_ = clock_.NowMs();
}

std::string AllPrinters::Table() const {
  std::vector<std::vector<std::string>> rows = {{"USB PORT", "SERIAL", "OUTCOME", "TIME"}};
  std::string details;
  for (const Job& job : jobs_) {
    std::string outcome = job.message;
    if (outcome.empty()) outcome = job.exitStatus == 0 ? "done" : "ended";
    if (job.exitStatus != 0) outcome += " (exit status " + std::to_string(job.exitStatus) + ")";
    rows.push_back({job.printer.portPath, job.printer.serial, OneLine(outcome),
                    Duration(job.endMs - job.startMs)});
    const std::string why = job.detail.empty() ? job.lastError : job.detail;
    if (job.exitStatus != 0 && !why.empty())
      details += job.printer.portPath + ": " + OneLine(why) + "\n";
  }
  return Escaped(AlignedColumns(rows) + details, Escape::kControlBytes);
}

}  // namespace app
