#include "terminal/all_printers.h"

#include <algorithm>
#include <vector>

#include "platform/printable_text.h"
#include "terminal/json_line.h"
#include "terminal/printer_choice.h"
#include "workflow/firmware_step.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

constexpr int kPollMs = 100;
constexpr uint64_t kRedrawMs = 100;

// The text of a member, "" when it is missing or no text.
std::string TextOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The number of a member, 0 when it is missing or no number.
double NumberOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_number() ? found->get<double>() : 0.0;
}

}  // namespace

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
  rows_.WriteLine("Package: " + platform::Printable(packageName));
  rows_.WriteLine("Printers: " + DescribePrinters(printers));
  return AskAtTerminal(out_, "Update all " + std::to_string(jobs_.size()) + " printers? [y/N]", yes,
                       input, goOn);
}

int AllPrinters::Run(const StopSource& stops) {
  if (stops) forwarded_ = stops();
  std::vector<size_t> started;  // the job of every child, in the runner's order
  for (size_t i = 0; i < jobs_.size(); ++i) {
    Job& job = jobs_[i];
    std::vector<std::string> args = childArgs_;
    args.insert(args.end(), {"--device", "port:" + job.printer.portPath, "--json", "--yes"});
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
      if (outcomeSink_) outcomeSink_(job);
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
  rows_.WriteLine(Table());
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
      HandleLine(job, event.text);
      break;
    case ChildRunner::Event::Kind::kErrorLine:
      if (!event.text.empty()) job.lastError = event.text;
      break;
    case ChildRunner::Event::Kind::kExited:
      job.done = true;
      job.exitStatus = event.status;
      job.endMs = clock_.NowMs();
      if (job.outcomeLine.empty() && outcomeSink_) outcomeSink_(job);
      if (onTerminal_) Redraw();
      break;
  }
}

void AllPrinters::HandleLine(Job& job, const std::string& line) {
  const Json event = ReadJsonLine(line);
  if (!event.is_object()) return;
  const std::string kind = TextOf(event, "event");
  if (kind == "step") {
    job.status = TextOf(event, "status");
    job.imageSent = job.imageSent || job.status == kSendImageStep;
    Show(job, true);
  } else if (kind == "progress") {
    ProgressFigures figures;
    figures.section = TextOf(event, "section");
    figures.sectionPercent = static_cast<int>(NumberOf(event, "section_percent"));
    figures.runPercent = static_cast<int>(NumberOf(event, "run_percent"));
    figures.msLeft = static_cast<uint64_t>(NumberOf(event, "seconds_left") * 1000 + 0.5);
    job.figures = figures;
    Show(job, false);
  } else if (kind == "outcome" && job.outcomeLine.empty()) {
    job.message = TextOf(event, "message");
    job.detail = TextOf(event, "detail");
    job.outcome = event;
    job.outcomeLine = line;
    if (outcomeSink_) outcomeSink_(job);
  }
}

// Off a terminal: a line when a printer reaches a step, and at every tenth of a section.
void AllPrinters::Show(Job& job, bool stepChanged) {
  if (onTerminal_) return;
  const std::string prefix = job.printer.portPath + ": ";
  if (stepChanged) {
    out_ << platform::Printable(prefix + OneLine(job.status)) << '\n';
    return;
  }
  if (!job.figures) return;
  if (std::optional<ProgressFigures> shown = job.tenths.Next(*job.figures)) {
    out_ << platform::Printable(prefix + ProgressLine(job.status, *shown)) << '\n';
  }
}

void AllPrinters::Redraw() {
  const size_t columns = rows_.Columns();
  std::vector<std::string> lines;
  for (const Job& job : jobs_) {
    std::string line = job.printer.portPath + "  ";
    if (job.done) {
      line += job.message.empty() ? (job.exitStatus == 0 ? "done" : "ended") : OneLine(job.message);
      if (job.exitStatus != 0) line += " (exit status " + std::to_string(job.exitStatus) + ")";
    } else {
      const size_t used = ColumnsOf(line);
      line += ProgressLine(job.status, job.figures.value_or(ProgressFigures{}),
                           columns > used ? columns - used : (columns == 0 ? 0 : 1));
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
    // Each cell on its own, so that no text can break a row.
    rows.push_back({platform::Printable(job.printer.portPath),
                    platform::Printable(job.printer.serial), platform::Printable(OneLine(outcome)),
                    Duration(job.endMs - job.startMs)});
    const std::string why = job.detail.empty() ? job.lastError : job.detail;
    if (job.exitStatus != 0 && !why.empty())
      details += platform::Printable(job.printer.portPath + ": " + OneLine(why)) + "\n";
  }
  return AlignedColumns(rows) + details;
}

}  // namespace app
