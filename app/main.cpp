// vrq-update: the window by default, the terminal front end for scripts and tests.
//
// Start-up builds everything in a fixed order: the HID library loader, the printer table
// and port with its device watcher, the main window, the second watcher. Everything is
// released in the reverse order when the window closes or the headless run ends.
#include <FL/Fl.H>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/logind_stay_awake.h"
#include "app/usb_port_adapter.h"
#include "hidlib/HidLibrary.h"
#include "package/linked_package.h"
#include "platform/blob.h"
#include "platform/child_processes.h"
#include "platform/fs.h"
#include "platform/poll_loop.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"
#include "platform/terminal_input.h"
#include "terminal/all_printers.h"
#include "terminal/all_printers_json.h"
#include "terminal/command_line.h"
#include "terminal/headless_run.h"
#include "terminal/json_events.h"
#include "terminal/json_line.h"
#include "terminal/package_check_run.h"
#include "terminal/printer_choice.h"
#include "terminal/terminal_front_end.h"
#include "terminal/verbose_log.h"
#include "usb/Unit_UsbEnumForm.h"
#include "usb/_printer_comm.h"
#include "window/desktop.h"
#include "window/fltk_fd_watch.h"
#include "window/fltk_main_window.h"
#include "workflow/Unit_mainform.h"
#include "workflow/clock.h"
#include "workflow/command_channel.h"
#include "workflow/leftovers.h"

#ifndef VRQ_VERSION
#define VRQ_VERSION "0"
#endif

namespace {

using app::CommandLine;

// noLock hears why no sleep lock could be had, when someone wants to know.
app::WorkflowEnvironment Environment(bool makerModeRequested = false,
                                     std::function<void(const std::string&)> noLock = {}) {
  return {platform::ExecutablePath(), [] { return platform::FindBlob("rc_dll", "dll"); },
          makerModeRequested, app::LogindStayAwake(std::move(noLock))};
}

int ListPrinters(app::PrinterPort& port, bool json) {
  const std::vector<app::PrinterInfo> printers = port.Discover();
  std::cout << (json ? app::PrinterListJson(printers) : app::PrinterTable(printers));
  if (!printers.empty()) return app::kExitSuccess;
  std::cerr << "vrq-update: no printer found (no " << fwp::kPrinterFamily << " of vendor "
            << usb::kPrinterVendorId << " with a printer node on USB)\n";
  return app::kExitFailure;
}

app::TerminalAnswers AnswersFor(const CommandLine& line, platform::TerminalLineReader& reader) {
  app::TerminalAnswers answers{line.yes, line.package, {}};
  answers.allowWarnings = line.allowWarnings;
  if (platform::StandardInputIsTerminal()) {
    answers.input = [&reader](int timeoutMs) {
      app::TypedLine typed;
      switch (reader.Poll(timeoutMs, typed.text)) {
        case platform::TerminalLineReader::Result::kLine:
          typed.state = app::TypedLine::State::kLine;
          break;
        case platform::TerminalLineReader::Result::kNothingYet:
          typed.state = app::TypedLine::State::kNothingYet;
          break;
        case platform::TerminalLineReader::Result::kEnd:
          typed.state = app::TypedLine::State::kEnd;
          break;
      }
      return typed;
    };
  }
  return answers;
}

// What earlier runs left behind when they were killed or the power went goes first;
// what another running instance holds stays.
void SweepLeftovers() {
  app::SweepLeftovers(platform::FolderOf(platform::ExecutablePath()));
}

// The children of --all: this program again, as the platform starts and watches it.
class ProcessRunner final : public app::ChildRunner {
 public:
  bool Start(const std::vector<std::string>& args, std::string& error) override {
    return children_.Start(platform::ExecutablePath(), args, error) >= 0;
  }
  std::vector<Event> Poll(int timeoutMs) override {
    std::vector<Event> events;
    for (const platform::ChildProcesses::Event& event : children_.Poll(timeoutMs)) {
      Event::Kind kind = Event::Kind::kExited;
      if (event.kind == platform::ChildProcesses::Event::Kind::kOutputLine) {
        kind = Event::Kind::kOutputLine;
      } else if (event.kind == platform::ChildProcesses::Event::Kind::kErrorLine) {
        kind = Event::Kind::kErrorLine;
      }
      events.push_back({event.child, kind, event.text, event.status});
    }
    return events;
  }
  bool AllExited() const override { return children_.AllExited(); }
  void Interrupt() override { children_.InterruptAll(); }
  void Terminate() override { children_.TerminateAll(); }

 private:
  platform::ChildProcesses children_;
};

app::StopSource StopSourceOf(const platform::StopSignals& signals) {
  return [&signals] { return app::StopRequests{signals.Interrupts(), signals.Terminations()}; };
}

// The window's: a lost display ends a run as SIGHUP does.
app::StopSource WindowStopSource(const platform::StopSignals& signals) {
  return [&signals] {
    return app::StopRequests{signals.Interrupts(),
                             signals.Terminations() + (app::DisplayLost() ? 1 : 0)};
  };
}

// The package the children of --all are given, as the operator named it.
app::PackageFacts PackageOfAll(const CommandLine& line) {
  app::PackageFacts package;
  if (line.package) {
    package.path = *line.package;
    return package;
  }
  package.path = platform::ExecutablePath();
  if (const fwp::LinkedPackage linked = fwp::FindLinkedPackage(package.path); linked.found) {
    package.offset = linked.offset;
    package.length = linked.length;
  }
  return package;
}

// --all: the printers attached now, each updated by a child of this program pinned to
// its port. With --json every printer's outcome goes out as its child wrote it, and a
// summary last, also when no child was started.
int RunAllPrinters(const CommandLine& line, app::PrinterPort& port, app::Clock& clock) {
  std::optional<app::JsonEvents> json;
  if (line.json) json.emplace(std::cout, clock);
  app::RunRecord unstarted;  // the run, when it ends before any child starts
  unstarted.startedMs = clock.NowMs();
  const auto endUnstarted = [&](int status) {
    unstarted.endedMs = clock.NowMs();
    if (json) json->Write(app::AllSummaryJson(unstarted, status, json->SinceStartMs()));
    return status;
  };
  const bool linked = fwp::HasLinkedPackage(platform::ExecutablePath());
  if (!line.package && !linked) {
    unstarted.refused = true;
    unstarted.message = "--all needs --package FILE, unless the program is an update application";
    std::cerr << "vrq-update: " << unstarted.message << '\n';
    return endUnstarted(app::kExitUsage);
  }
  const std::vector<app::PrinterInfo> printers = port.Discover();
  if (printers.empty()) {
    unstarted.message = "Can not open usb port!";
    unstarted.detail = "no " + std::string(fwp::kPrinterFamily) + " found on USB";
    std::cerr << "Error: " << unstarted.message << "\n  " << unstarted.detail << '\n';
    return endUnstarted(app::kExitFailure);
  }
  platform::StopSignals signals;
  ProcessRunner runner;
  const std::vector<std::string> childArgs =
      line.package ? std::vector<std::string>{"--package", *line.package}
                   : std::vector<std::string>{"--headless"};
  app::AllPrinters all(printers, childArgs, runner, clock, std::cerr,
                       platform::StandardErrorIsTerminal());
  platform::TerminalLineReader reader;
  switch (all.Confirm(line.package.value_or(platform::ExecutablePath()), line.yes,
                      AnswersFor(line, reader).input, StopSourceOf(signals))) {
    case app::Confirmation::kYes:
      break;
    case app::Confirmation::kNo:
      if (signals.Terminations() > 0) {
        unstarted.stopped = app::StopCause::kTermination;
      } else if (signals.Interrupts() > 0) {
        unstarted.stopped = app::StopCause::kInterrupt;
      } else {
        unstarted.declined = true;
      }
      unstarted.message = unstarted.declined ? app::kNotUpdated : "Stopped.";
      std::cerr << unstarted.message << '\n';
      return endUnstarted(app::ExitStatusOf(unstarted));
    case app::Confirmation::kCannotAsk:
      unstarted.refused = true;
      unstarted.message = "Not updated: there is no terminal to answer at.";
      unstarted.detail = "Give --yes to update without the question.";
      return endUnstarted(app::kExitUsage);
  }
  const app::PackageFacts package = PackageOfAll(line);
  if (json) {
    all.SetOutcomeSink([&json, &package](app::AllPrinters::Job& job) {
      if (job.outcomeLine.empty()) {
        job.outcome = app::MissingOutcomeJson(job, package, json->SinceStartMs());
        json->Write(job.outcome);
      } else {
        std::cout << job.outcomeLine << '\n';
        std::cout.flush();
      }
    });
  }
  const int status = all.Run(StopSourceOf(signals));
  if (json) json->Write(app::AllSummaryJson(all.Jobs(), status, json->SinceStartMs()));
  return status;
}

// --list and --all: only discovery, with no device watcher, whose events nobody here
// would read while the children restart their printers.
int RunOnPrinterList(const CommandLine& line, app::Clock& clock) {
  hidlib::HidLibrary hidLibrary;
  usb::_struct_printer_comm_ UsbPrinterList;
  usb::TUsbPrinter unwatched(clock);
  app::UsbPortAdapter port(UsbPrinterList, unwatched);
  if (line.mode == app::Mode::kList) return ListPrinters(port, line.json);
  return RunAllPrinters(line, port, clock);
}

// An update or a make without a window: the workflow with the terminal front end.
int RunHeadless(const CommandLine& line, app::Clock& clock) {
  hidlib::HidLibrary hidLibrary;
  usb::_struct_printer_comm_ UsbPrinterList;
  platform::PollLoop events;
  usb::TUsbPrinter UsbPrinter(events, clock);
  app::UsbPortAdapter port(UsbPrinterList, UsbPrinter);

  platform::StopSignals signals;
  SweepLeftovers();
  std::optional<app::JsonEvents> json;
  if (line.json) json.emplace(std::cout, clock);
  app::CommandChannel channel(port, clock);
  if (line.mode == app::Mode::kUpdate) {
    const app::PrinterChoice choice = app::ChoosePrinter(port.Discover(), line.device);
    if (!choice.problem.empty()) {
      return app::RefusePrinterChoice(choice.problem, std::cerr, json ? &*json : nullptr);
    }
    if (!choice.portPath.empty()) channel.ChoosePort(choice.portPath);
  }
  platform::TerminalLineReader reader;
  app::TerminalFrontEnd terminal(clock, std::cerr, platform::StandardErrorIsTerminal(),
                                 AnswersFor(line, reader));
  terminal.SetJsonEvents(json ? &*json : nullptr);
  std::optional<app::VerboseLog> verbose;
  if (line.verbose) {
    verbose.emplace(clock, [&terminal](const std::string& text) { terminal.WriteLine(text); });
    channel.SetDialogueLog(&*verbose);
  }
  auto noLock = [&verbose](const std::string& problem) {
    if (verbose) verbose->Note("no sleep lock (" + problem + "): the update goes on without one");
  };
  app::TMainForm MainForm(terminal, channel, clock, Environment(false, noLock));
  terminal.SetTickHandler([&MainForm] { MainForm.Timer1Timer(); });
  terminal.SetEventPoller([&events] { events.RunOnce(0); });
  MainForm.SetStopSource(StopSourceOf(signals));
  MainForm.FormCreate();
  // The second watcher: the window's own, which registers for nothing. Linux has nothing
  // for it to watch; it stays so that start-up builds what the printer port expects.
  usb::TUsbEnumForm UsbEnumForm;

  terminal.StartTimer();
  return app::RunHeadlessOperation(MainForm, line, json ? &*json : nullptr);
}

[[noreturn]] void NoDisplay(const char* why) {
  std::fprintf(stderr,
               "vrq-update: %s, so the window cannot open.\n"
               "Run it headless instead, for example:\n"
               "  vrq-update --package UPDATE.fwp --yes    (update a printer)\n"
               "  vrq-update --make UPDATE.fwp             (make UPDATE.run)\n"
               "See vrq-update --help.\n",
               why);
  std::exit(app::kExitFailure);
}

// FLTK's fatal-error hook: it is called when the X display cannot be opened (a
// connection that breaks later is the desktop's business, app::DisplayLost).
[[noreturn]] void DisplayFailed(const char*, ...) {
  NoDisplay("the display cannot be opened");
}

int RunWindow(bool makerModeRequested, app::Clock& clock) {
  if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0') {
    NoDisplay("no display was found (DISPLAY is not set)");
  }
  Fl::fatal = &DisplayFailed;
  platform::StopSignals signals;
  app::OpenDisplay();
  app::UseProgramIcon();
  SweepLeftovers();
  hidlib::HidLibrary hidLibrary;
  app::FltkFdWatch events;
  usb::_struct_printer_comm_ UsbPrinterList;
  usb::TUsbPrinter UsbPrinter(events, clock);
  app::UsbPortAdapter port(UsbPrinterList, UsbPrinter);

  app::CommandChannel channel(port, clock);
  app::FltkMainWindow window(clock, events, app::DesktopScaleFactor());
  app::TMainForm MainForm(window, channel, clock, Environment(makerModeRequested));
  window.OnTimer = [&MainForm, &window] {
    MainForm.Timer1Timer();
    if (MainForm.CloseRequested()) window.Close();
  };
  window.OnClick = [&MainForm] { MainForm.Button1Click(); };
  window.OnCloseQuery = [&MainForm] { return MainForm.FormCloseQuery(); };
  window.StopPending = [&MainForm] { return MainForm.StopPending(); };
  // A write that waits for the printer would freeze the window; it repaints meanwhile.
  port.SetWriteWaitHook([&window] { window.RepaintWhileBlocked(); });
  MainForm.SetStopSource(WindowStopSource(signals));
  MainForm.FormCreate();
  // Docks match the window to its desktop entry by this.
  window.SetWindowClass(MainForm.MakerMode() ? "vrq-update-maker" : "vrq-update");
  // The second watcher: the window's own, which registers for nothing. Linux has nothing
  // for it to watch; it stays so that start-up builds what the printer port expects.
  usb::TUsbEnumForm UsbEnumForm;

  window.Run();
  if (signals.Terminations() > 0 || app::DisplayLost()) return app::kExitTerminated;
  return signals.Interrupts() > 0 ? app::kExitInterrupted : app::kExitSuccess;
}

int Main(int argc, char** argv) {
  const CommandLine line = app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!line.error.empty()) {
    std::cerr << "vrq-update: " << line.error
              << "\nTry 'vrq-update --help' for more information.\n";
    return app::kExitUsage;
  }
  // The program's one clock: the printer port, the workflow and the front ends all count
  // their time on it.
  app::SteadyClock clock;
  // An update application updates from its own package only: a package named to it goes
  // nowhere, and saying so is better than updating from the wrong one.
  if (line.mode == app::Mode::kUpdate || line.mode == app::Mode::kMake ||
      line.mode == app::Mode::kAll) {
    const std::string refusal = app::UpdateApplicationRefusal(line);
    if (!refusal.empty() && fwp::HasLinkedPackage(platform::ExecutablePath())) {
      std::optional<app::JsonEvents> json;
      if (line.json) json.emplace(std::cout, clock);
      return app::RefuseRun(refusal, std::cerr, json ? &*json : nullptr);
    }
  }
  switch (line.mode) {
    case app::Mode::kHelp:
      std::cout << app::UsageText("vrq-update");
      return app::kExitSuccess;
    case app::Mode::kVersion: {
      std::cout << "vrq-update " << VRQ_VERSION << '\n';
      const std::string package = app::LinkedPackageVersionLine(platform::ExecutablePath());
      if (!package.empty()) std::cout << package << '\n';
      return app::kExitSuccess;
    }
    case app::Mode::kCheck:
      return app::RunPackageCheck(platform::ExecutablePath(), line.checkFile, std::cout, std::cerr,
                                  line.json);
    case app::Mode::kList:
    case app::Mode::kAll:
      return RunOnPrinterList(line, clock);
    case app::Mode::kUpdate:
    case app::Mode::kMake:
      return RunHeadless(line, clock);
    case app::Mode::kMakerWindow:
      // An update application takes its mode from the settings file beside it only: its
      // end users must not be able to turn it into a maker.
      if (fwp::HasLinkedPackage(platform::ExecutablePath())) {
        std::cerr << "vrq-update: --maker is not for an update application; its mode comes "
                     "from the settings file beside it\n";
        return app::kExitUsage;
      }
      return RunWindow(true, clock);
    case app::Mode::kWindow:
      break;
  }
  return RunWindow(false, clock);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "vrq-update: " << error.what() << '\n';
  }
  return app::kExitFailure;
}
