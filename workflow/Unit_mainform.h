// Main window logic: the mode, the Update/Make button, the 10 ms timer and the close box.
//
// The button runs the update procedure or the maker; the printer dialogue itself is the
// session's. The window is whatever MainWindowUi the front end gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workflow/clock.h"
#include "workflow/command_channel.h"
#include "workflow/main_window_ui.h"
#include "workflow/outcome.h"
#include "workflow/printer_session.h"
#include "workflow/run_record.h"
#include "workflow/stop_request.h"
#include "workflow/workflow_environment.h"

namespace app {

inline constexpr char kMakerCaption[] = "VRQ Update Maker";
inline constexpr char kUpdateButton[] = "Update";
inline constexpr char kMakeButton[] = "Make";
// What a run that the operator declined says.
inline constexpr char kNotUpdated[] = "Not updated.";
// The maker's question for a package that loaded with warnings.
inline constexpr char kMakeDespiteWarnings[] =
    "The package loaded with warnings. Make the update application all the same?";

class TMainForm {
 public:
  TMainForm(MainWindowUi& ui, CommandChannel& channel, Clock& clock, WorkflowEnvironment env);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Reads the mode from the settings file and sets the captions.
  void FormCreate();
  // Runs the mode's operation with the button disabled.
  void Button1Click();
  // Button1Click with a package path for the maker (empty: ask the operator).
  void RunOperation(const std::string& makerPackagePath);
  // The 10 ms timer.
  void Timer1Timer();
  // The window is asked to close: true when it may close now. While an update writes the
  // printer the operator is asked first; a run that is going on is stopped, and the
  // window closes once it has given everything back (CloseRequested).
  bool FormCloseQuery();

  // The update procedure: -1 when it ended before the package was examined, else 0.
  int32_t RunUpdate();
  // The maker: -1 when the operator cancelled the file dialog, else 0.
  int32_t MakeUpdateApp(const std::string& packagePath);

  // Maker mode: set by FormCreate from the settings file; a command line may choose too.
  bool MakerMode() const { return makerMode_; }
  void SetMakerMode(bool on) { makerMode_ = on; }
  // Where requests to stop come from (the front end's signal count).
  void SetStopSource(StopSource source);

  // True when the last operation ended with its success box.
  bool LastRunSucceeded() const { return lastRun_.success; }
  // What stopped the last operation early, if anything did.
  StopCause LastRunStopped() const { return lastRun_.stopped; }
  // Everything known of how the last operation went.
  const RunRecord& LastRun() const { return lastRun_; }
  // True when the window should close now that no operation runs: a close was asked for
  // during one, or a stop was requested.
  bool CloseRequested() const;
  // True when a request to stop waits to be acted on (see PrinterSession::StopPending;
  // outside a run, any request): whatever box or dialog is open must close, so that the
  // run can end.
  bool StopPending() const;

 private:
  void Report(const RunOutcome& outcome, const std::vector<std::string>& warnings = {});
  FileDialogRequest OpenDialog1() const;

  MainWindowUi& ui_;
  PrinterSession session_;
  WorkflowEnvironment env_;
  StopSource stopSource_;
  Clock& clock_;
  bool makerMode_ = false;
  RunRecord lastRun_;
  bool closeAfterRun_ = false;
};

}  // namespace app
