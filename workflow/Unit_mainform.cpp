// Main window logic: the mode, the Update/Make button, the 10 ms timer and the close box.
#include "workflow/Unit_mainform.h"

#include <exception>

#include "platform/folder_access.h"
#include "platform/fs.h"
#include "workflow/maker.h"
#include "workflow/settings.h"
#include "workflow/text_tools.h"
#include "workflow/update_run.h"

namespace app {

TMainForm::TMainForm(MainWindowUi& ui, CommandChannel& channel, Clock& clock,
                     WorkflowEnvironment env)
    : ui_(ui), session_(channel, ui, clock), env_(std::move(env)), clock_(clock) {}

void TMainForm::FormCreate() {
  const std::string settingsPath = app::SettingsPathFor(env_.executablePath);
  makerMode_ = env_.makerModeRequested || app::ReadSettingBool(settingsPath, "MAIN", "MAKE", false);
  if (makerMode_) {
    ui_.SetButtonCaption(kMakeButton);
    ui_.SetCaption(kMakerCaption);
  } else {
    ui_.SetButtonCaption(kUpdateButton);
    ui_.SetCaption(BaseNameWithoutExtension(env_.executablePath));
  }
}

void TMainForm::Button1Click() {
  RunOperation({});
}

void TMainForm::RunOperation(const std::string& makerPackagePath) {
  ui_.SetButtonEnabled(false);
  lastRun_ = {};
  lastRun_.startedMs = clock_.NowMs();
  std::string error;
  try {
    auto run = session_.BeginRun();
    try {
      if (makerMode_) {
        MakeUpdateApp(makerPackagePath);
      } else {
        RunUpdate();
      }
    } catch (const RunStopped& stop) {
      lastRun_.stopped = stop.cause;
      lastRun_.message = session_.WritingPrinter()
                             ? "Stopped while writing the printer: it may hold incomplete "
                               "firmware; run the update again."
                             : "Stopped.";
      ui_.ShowNotice(lastRun_.message);
    }
  } catch (const std::exception& thrown) {
    // The run gave back what it held as the error left it; what is left is to say what
    // happened and give the button back.
    error = thrown.what();
  }
  if (!error.empty()) {
    lastRun_.message = error;
    ui_.ShowMessage(error, "Error", BoxIcon::kError, {});
  }
  lastRun_.flashStartedMs = session_.FlashStartedMs();
  lastRun_.flashReached = lastRun_.flashStartedMs.has_value();
  lastRun_.endedMs = clock_.NowMs();
  ui_.SetButtonEnabled(true);
}

void TMainForm::Timer1Timer() {
  session_.OnTick();
}

bool TMainForm::FormCloseQuery() {
  if (!session_.RunActive()) return true;
  if (session_.WritingPrinter() &&
      !ui_.AskOkCancel("The printer is being written: stopping now leaves it without complete "
                       "firmware.\r\nStop anyway?",
                       "Stop update")) {
    return false;
  }
  session_.RequestStop();
  closeAfterRun_ = true;
  return false;
}

bool TMainForm::CloseRequested() const {
  if (session_.RunActive()) return false;
  if (closeAfterRun_) return true;
  const StopRequests requests = stopSource_ ? stopSource_() : StopRequests{};
  return requests.interrupts > 0 || requests.terminations > 0;
}

bool TMainForm::StopPending() const {
  if (session_.RunActive()) return session_.StopPending();
  const StopRequests requests = stopSource_ ? stopSource_() : StopRequests{};
  return requests.interrupts > 0 || requests.terminations > 0;
}

void TMainForm::SetStopSource(StopSource source) {
  stopSource_ = source;
  session_.SetStopSource(std::move(source));
}

int32_t TMainForm::RunUpdate() {
  const bool overTheRun = ui_.OutcomeOverTheRun();
  RunOutcome outcome;
  std::vector<std::string> warnings;
  {
    UpdateRun run(session_, ui_, env_, OpenDialog1(), lastRun_);
    outcome = run.Run();
    warnings = run.Warnings();
    // A window shows the box over the run as it stands, its progress bar still shown;
    // the run gives back what it holds once the box is closed.
    if (overTheRun) Report(outcome, warnings);
  }
  // Elsewhere the run is gone, and everything it held given back, before the operator is
  // told.
  if (!overTheRun) Report(outcome, warnings);
  return outcome.result;
}

int32_t TMainForm::MakeUpdateApp(const std::string& packagePath) {
  std::string package = packagePath;
  if (package.empty()) {
    std::optional<std::string> chosen = ui_.ChooseFile(OpenDialog1());
    // A request to stop closes the dialog; it ends the run rather than cancel it.
    session_.CheckStop();
    if (!chosen) return -1;
    package = *chosen;
  }
  // The maker overwrites an existing application without asking, as it always has; a
  // line says so (the terminal shows it, the window writes it to standard error).
  const bool replacing = platform::PathExists(UpdateApplicationPathFor(package));
  MakerHooks hooks;
  hooks.checkStop = [this] { session_.CheckStop(); };
  hooks.acceptWarnings = [this](const std::vector<std::string>& warnings) {
    return ui_.AcceptWarnings(kMakeDespiteWarnings, warnings);
  };
  const RunOutcome outcome = MakeUpdateApplication(env_.executablePath, package, hooks, &lastRun_);
  if (outcome.success && replacing) ui_.ShowNotice("Replaced the existing " + outcome.detail);
  Report(outcome);
  return 0;
}

void TMainForm::Report(const RunOutcome& outcome, const std::vector<std::string>& warnings) {
  lastRun_.refused = outcome.refused;
  lastRun_.declined = outcome.declined;
  if (outcome.declined) {
    // The operator said no; a line says that nothing happened, so that the answer is not
    // mistaken for a run that went quiet.
    lastRun_.message = kNotUpdated;
    ui_.ShowNotice(kNotUpdated);
    return;
  }
  if (outcome.message.empty()) return;
  if (outcome.onStatusLine) ui_.SetStatusText(outcome.message);
  lastRun_.success = outcome.success;
  lastRun_.message = outcome.message;
  lastRun_.detail = outcome.detail;
  ui_.ShowOutcome(outcome.message, outcome.caption,
                  outcome.success ? BoxIcon::kInformation : BoxIcon::kError, outcome.detail,
                  warnings);
}

// The dialog opens where the program lies, unless that folder is not the user's to write
// (an installed program): the packages are elsewhere then, most likely where the user is.
FileDialogRequest TMainForm::OpenDialog1() const {
  std::string folder = platform::FolderOf(env_.executablePath);
  if (!platform::FolderIsWritable(folder)) {
    const std::string current = platform::CurrentFolder();
    if (!current.empty()) folder = current;
  }
  return {"select update file", "fwp", "FWP file\t*.fwp\nAll File\t*", folder};
}

}  // namespace app
