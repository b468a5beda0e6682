// --all: every printer attached at the start updated at once, each by a child process of
// this program pinned to its USB port with --device, so that one printer's fault cannot
// touch another's run. The children report with --json; this side shows a line per
// printer while they run and a table of the outcomes at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "terminal/json_line.h"
#include "terminal/progress_lines.h"
#include "terminal/terminal_question.h"
#include "workflow/clock.h"
#include "workflow/main_window_ui.h"
#include "workflow/printer_port_seam.h"
#include "workflow/stop_request.h"

namespace app {

// The child processes, as the platform runs them.
class ChildRunner {
 public:
  struct Event {
    enum class Kind { kOutputLine, kErrorLine, kExited };
    size_t child = 0;
    Kind kind = Kind::kExited;
    std::string text;
    int status = 0;
  };
  virtual ~ChildRunner() = default;
  // Starts this program with args; false with the reason in error.
  virtual bool Start(const std::vector<std::string>& args, std::string& error) = 0;
  // What the children wrote or how they ended, waiting up to timeoutMs.
  virtual std::vector<Event> Poll(int timeoutMs) = 0;
  virtual bool AllExited() const = 0;
  // Passes a request to stop on to every child still running.
  virtual void Interrupt() = 0;
  virtual void Terminate() = 0;
};

class AllPrinters {
 public:
  struct Job {
    PrinterInfo printer;
    std::string status;  // the last step the child named
    std::optional<ProgressFigures> figures;
    SectionTenths tenths;  // the lines shown off a terminal
    bool started = false, done = false;
    int exitStatus = 0;
    std::string message, detail, lastError;
    uint64_t startMs = 0, endMs = 0;
    // The child's outcome object and its line as the child wrote it; null and "" until
    // it came (and for ever, for a child that ended without one).
    Json outcome;
    std::string outcomeLine;
    bool imageSent = false;  // the child said it sends the firmware image
  };
  // Hears each printer's outcome once it is known: the child's outcome line as it comes,
  // or, for a child that could not start or ended without one, the job as it ended.
  using OutcomeSink = std::function<void(Job& job)>;

  // childArgs: what every child is started with, before "--device port:PATH --json --yes".
  AllPrinters(std::vector<PrinterInfo> printers, std::vector<std::string> childArgs,
              ChildRunner& runner, Clock& clock, std::ostream& out, bool onTerminal);

  // Asks "Update all N printers? [y/N]" (yes answers beforehand; without input it
  // refuses). A request to stop while the question waits is a no.
  Confirmation Confirm(const std::string& packageName, bool yes, const TerminalInput& input,
                       const StopSource& stops = {});
  // Runs every child to its end; the exit status: 0 when every printer was updated,
  // otherwise the highest of the children's.
  int Run(const StopSource& stops);

  // On a terminal: its width now, which the lines keep within.
  void SetWidthSource(InPlaceLines::WidthSource width) { rows_.SetWidthSource(std::move(width)); }
  void SetOutcomeSink(OutcomeSink sink) { outcomeSink_ = std::move(sink); }

  const std::vector<Job>& Jobs() const { return jobs_; }
  // USB port, serial number, outcome and time of every printer, with a header.
  std::string Table() const;

 private:
  void Handle(const ChildRunner::Event& event);
  // A line a child wrote on its standard output: one of its --json events. Anything else
  // is ignored.
  void HandleLine(Job& job, const std::string& line);
  void Show(Job& job, bool stepChanged);
  void Redraw();
  void ForwardStops(const StopSource& stops);

  std::vector<Job> jobs_;
  std::vector<std::string> childArgs_;
  ChildRunner& runner_;
  Clock& clock_;
  std::ostream& out_;
  bool onTerminal_;
  InPlaceLines rows_;  // on a terminal: a row per printer
  uint64_t lastDrawMs_ = 0;
  StopRequests forwarded_;
  OutcomeSink outcomeSink_;
};

}  // namespace app
