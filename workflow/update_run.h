// The update procedure behind the "Update" button: find and check the package, open the
// printer, run the firmware step, check the MAC address, write the flash sections block
// by block and close the dialogue with "LINK".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/linked_package.h"
#include "platform/temp_file.h"
#include "workflow/main_window_ui.h"
#include "workflow/outcome.h"
#include "workflow/printer_session.h"
#include "workflow/run_owners.h"
#include "workflow/run_progress.h"
#include "workflow/run_record.h"
#include "workflow/stay_awake.h"
#include "workflow/workflow_environment.h"

namespace app {

inline constexpr char kUpdateSuccess[] = "Update Success!";

// One run of the procedure. Everything it makes or opens is held by an owner among its
// members, so that every exit (a result, an exception, a stop) gives it back; the
// outcome is meant to be reported once the run is gone.
class UpdateRun {
 public:
  // openDialog: how to ask for a package file when the executable carries none. record
  // hears what the run worked on (its printer, its package) as it learns it.
  UpdateRun(PrinterSession& session, MainWindowUi& ui, const WorkflowEnvironment& env,
            FileDialogRequest openDialog, RunRecord& record)
      : session_(session),
        ui_(ui),
        env_(env),
        openDialog_(std::move(openDialog)),
        record_(record) {}
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  // result -1 when the run ended before the package was examined, else 0.
  RunOutcome Run();
  // What was odd about the package, though it loaded: the trailer's warning and the
  // load's, in that order; empty until the package was looked at.
  std::vector<std::string> Warnings() const;

 private:
  bool ReserveLibraryFile();
  bool FindPackage();
  void RecordPackage();
  StepResult WriteLibraryImage();
  StepResult CopyLinkedPackage();
  StepResult CheckPackage();
  RunOutcome TalkToPrinter();
  std::optional<RunOutcome> Confirm(const FlashPlan& plan);
  void KeepMachineAwake();
  StepResult CheckMacAddress();
  StepResult WriteSections(RunProgress& progress);
  RunOutcome CloseDialogue();
  RunOutcome ClosePrinter(RunOutcome outcome);

  PrinterSession& session_;
  MainWindowUi& ui_;
  const WorkflowEnvironment& env_;
  const FileDialogRequest openDialog_;
  RunRecord& record_;
  std::string versionLabel_;

  // Given back in the reverse order: the item files before the printer closes, the
  // temporary files last.
  platform::TempFile library_;                // the "_^~" file that receives the HID library image
  std::optional<fwp::LinkedPackage> linked_;  // the package linked to the executable, if any
  platform::TempFile extracted_;              // its copy
  std::string packagePath_;
  std::optional<ProgressShown> progress_;
  std::optional<PrinterPortShown> portShown_;
  std::unique_ptr<AwakeLock> awake_;  // outlives the printer connection
  std::optional<OpenPrinter> printer_;
  std::optional<ExtractedItems> items_;
};

}  // namespace app
