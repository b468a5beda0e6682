#include "workflow/update_run.h"

#include <cstring>
#include <string>
#include <vector>

#include "package/linked_package.h"
#include "package/package_check.h"
#include "package/package_scan.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/printable_text.h"
#include "workflow/firmware_step.h"
#include "workflow/flash_pacing.h"
#include "workflow/printer_vocabulary.h"
#include "workflow/section_transfer.h"
#include "workflow/text_tools.h"
#include "workflow/update_check.h"

namespace app {
namespace {

// The mode of the "SETIT" lines: the last "frw" item's Mode, 0 when none is a number.
int32_t SectionMode(const fwp::TOPFile& package) {
  int32_t mode = 0;
  for (size_t i = 0; i < package.ItemNames().size(); ++i) {
    const fwp::TFileBase* item = package.ItemAt(i);
    if (item != nullptr && item->Type == fwp::kFirmwareType) mode = DecimalOrDefault(item->Mode, 0);
  }
  return mode;
}

}  // namespace

RunOutcome UpdateRun::Run() {
  if (!ReserveLibraryFile()) {
    std::string folders;
    for (const std::string& folder :
         platform::TempFileFolders(platform::FolderOf(env_.executablePath))) {
      folders += (folders.empty() ? "" : " or ") + folder;
    }
    return RunOutcome::Error("Create dll File Failed",
                             "no temporary file could be made in " + folders + ": " +
                                 std::strerror(library_.LastError()),
                             -1);
  }
  if (!FindPackage()) return RunOutcome::Quiet(-1);
  RecordPackage();
  if (StepResult written = WriteLibraryImage(); !written) {
    return RunOutcome::Error("Create dll File Failed!", written.reason, -1);
  }
  session_.CheckStop();
  StepResult checked = CheckPackage();
  record_.package->versionLabel = versionLabel_;
  if (checked) checked = CopyLinkedPackage();
  if (!checked) {
    RunOutcome outcome = RunOutcome::Error(kPackageRefused, checked.reason);
    outcome.onStatusLine = true;
    return outcome;
  }
  return ClosePrinter(TalkToPrinter());
}

// The run's last command (the buzzer, or the LED of a failure) must reach the printer
// before the node closes; one the printer did not take in time is said beside the outcome,
// which it does not change.
RunOutcome UpdateRun::ClosePrinter(RunOutcome outcome) {
  if (!printer_) return outcome;
  const bool taken = printer_->Close();
  printer_.reset();
  if (!taken) {
    if (!outcome.detail.empty()) outcome.detail += "\n";
    outcome.detail +=
        "the printer did not take the end of the data within " + SecondsText(kWriteStallLimitMs);
  }
  return outcome;
}

std::vector<std::string> UpdateRun::Warnings() const {
  std::vector<std::string> warnings;
  if (linked_ && !linked_->warning.empty()) warnings.push_back(linked_->warning);
  if (items_) {
    const std::vector<std::string>& load = items_->Package().LoadWarnings();
    warnings.insert(warnings.end(), load.begin(), load.end());
  }
  return warnings;
}

// The "_^~" file that receives the library image lies beside the executable, unless that
// folder is not the user's or is an installed program's (platform::TempFileFolders).
bool UpdateRun::ReserveLibraryFile() {
  library_ = platform::TempFile::CreateInFirst(
      platform::TempFileFolders(platform::FolderOf(env_.executablePath)), fwp::kTempPrefix);
  return library_.IsOpen();
}

bool UpdateRun::FindPackage() {
  const std::string& executable = env_.executablePath;
  // A damaged trailer still makes an update application: it says so, and never asks for
  // a package file it was not made to use.
  if (fwp::LinkedPackage linked = fwp::FindLinkedPackage(executable); linked.marked) {
    session_.ShowStatus("Find update!");
    linked_ = linked;
    return true;
  }
  const bool select = ui_.AskOkCancel(
      "no found resource file,select file from open file dialog?\r\n"
      "or get the application with resource file",
      "select ...");
  // A request to stop closes the question and the dialog: the run stops then, it is not
  // cancelled.
  session_.CheckStop();
  if (!select) return false;
  std::optional<std::string> chosen = ui_.ChooseFile(openDialog_);
  session_.CheckStop();
  if (!chosen) return false;
  packagePath_ = *chosen;
  return true;
}

// The package as the operator named it: the file chosen, or this update application
// with its linked package's place in it.
void UpdateRun::RecordPackage() {
  PackageFacts& facts = record_.package.emplace();
  if (!linked_) {
    facts.path = packagePath_;
    return;
  }
  facts.path = env_.executablePath;
  if (linked_->found) {
    facts.offset = linked_->offset;
    facts.length = linked_->length;
  }
  if (!linked_->warning.empty()) record_.warnings.push_back(linked_->warning);
}

StepResult UpdateRun::WriteLibraryImage() {
  std::optional<std::span<const uint8_t>> image;
  if (env_.libraryImage) image = env_.libraryImage();
  if (!image) return StepResult::Failed("this program carries no HID library image");
  platform::File file =
      platform::File::Open(library_.Path(), platform::File::Mode::kCreateTruncate);
  const bool written =
      file.IsOpen() &&
      file.Write(image->data(), image->size()) == static_cast<int64_t>(image->size()) &&
      file.Close();
  if (written) return StepResult::Done();
  return StepResult::Failed("can not write " + library_.Path() + ": " +
                            std::strerror(file.LastError()));
}

// The linked package is copied out and its checksums compared on the way: a damaged
// download goes no further.
StepResult UpdateRun::CopyLinkedPackage() {
  if (!linked_) return StepResult::Done();
  std::string problem;
  // A large package takes a while to copy; a request to stop ends the copy, and the run
  // with it, at once.
  const auto stopRequested = [this] {
    const StopRequests pending = session_.PendingRequests();
    return pending.interrupts > 0 || pending.terminations > 0;
  };
  extracted_ =
      fwp::ExtractLinkedPackageToTemp(env_.executablePath, *linked_, &problem, stopRequested);
  session_.CheckStop();
  if (!extracted_.IsOpen()) return StepResult::Failed(problem);
  packagePath_ = extracted_.Path();
  return StepResult::Done();
}

// A linked package is checked where it lies, before anything is copied out of the
// executable: its trailer, its size and its header.
StepResult UpdateRun::CheckPackage() {
  if (linked_) {
    const fwp::LinkedHeaderCheck checked = fwp::CheckLinkedHeader(env_.executablePath, *linked_);
    versionLabel_ = checked.probe.header.versionLabel;
    return checked.problem.empty() ? StepResult::Done() : StepResult::Failed(checked.problem);
  }
  const fwp::HeaderProbe probe = fwp::ProbePackageHeader(packagePath_);
  const std::string problem = HeaderRefusal(probe, packagePath_);
  versionLabel_ = probe.header.versionLabel;
  return problem.empty() ? StepResult::Done() : StepResult::Failed(problem);
}

namespace {

std::vector<ItemSize> ItemsOf(const fwp::TOPFile& package) {
  std::vector<ItemSize> items;
  for (size_t i = 0; i < package.ItemNames().size(); ++i) {
    const fwp::TFileBase* item = package.ItemAt(i);
    if (item == nullptr) continue;
    items.push_back(
        {item->Type, item->FileName, platform::FileSize(package.WorkFolder() + item->FileName)});
  }
  return items;
}

}  // namespace

// The printer is open and the package unpacked, and nothing has been sent yet: the
// moment to say which package goes to which printer.
std::optional<RunOutcome> UpdateRun::Confirm(const FlashPlan& plan) {
  UpdateSummary summary;
  summary.packagePath = extracted_.IsOpen() ? env_.executablePath : packagePath_;
  summary.versionLabel = versionLabel_;
  for (const ItemSize& item : record_.package->items)
    summary.items.push_back({item.type, item.size});
  if (const std::optional<PrinterInfo>& printer = session_.OpenedPrinter()) {
    summary.portPath = printer->portPath;
    summary.serial = printer->serial;
    summary.node = printer->openPath;
  }
  summary.flashMs = plan.TotalMs();
  summary.warnings = record_.warnings;
  switch (ui_.ConfirmUpdate(summary, [this] { session_.CheckStop(); })) {
    case Confirmation::kYes:
      return std::nullopt;
    case Confirmation::kNo:
      return RunOutcome::Declined();
    case Confirmation::kCannotAsk:
      break;
  }
  RunOutcome refused = RunOutcome::Quiet(0);
  refused.refused = true;
  return refused;
}

RunOutcome UpdateRun::TalkToPrinter() {
  printer_ = session_.Open();
  if (!printer_) {
    // The port tells why (no printer, not held by usblp, not ours to open, held by
    // another program); a port that cannot tell gets the general words.
    std::string why = session_.LastOpenFailure().detail;
    if (why.empty()) {
      why = "no " + std::string(fwp::kPrinterFamily) + " found on USB, or it could not be opened";
    }
    RunOutcome outcome = RunOutcome::Error("Can not open usb port!", why);
    outcome.onStatusLine = true;
    return outcome;
  }
  record_.printer = session_.OpenedPrinter();
  portShown_.emplace(ui_, record_.printer ? record_.printer->portPath : std::string());
  fwp::TOPFile& package = items_.emplace().Package();
  if (!package.Load(packagePath_)) {
    // Nothing of a package that did not load completely goes to the printer.
    RunOutcome outcome = RunOutcome::Error(kPackageRefused, package.LoadError());
    outcome.onStatusLine = true;
    return outcome;
  }
  record_.package->items = ItemsOf(package);
  const std::vector<std::string>& loadWarnings = package.LoadWarnings();
  record_.warnings.insert(record_.warnings.end(), loadWarnings.begin(), loadWarnings.end());
  RunProgress progress(ui_, FlashPlan(record_.package->items));
  if (std::optional<RunOutcome> declined = Confirm(progress.Plan())) return *declined;
  KeepMachineAwake();
  session_.CheckStop();
  progress_.emplace(ui_);
  progress.Reached(RunProgress::Milestone::kFirmware);
  if (StepResult firmware = SendFirmware(session_, package); !firmware) {
    return RunOutcome::Error(kFirmwareRefused, firmware.reason);
  }
  progress.Reached(RunProgress::Milestone::kPrinterBack);
  if (StepResult mac = CheckMacAddress(); !mac)
    return RunOutcome::Error("No MAC ADDR!", mac.reason);
  progress.Reached(RunProgress::Milestone::kMacChecked);
  if (StepResult sections = WriteSections(progress); !sections) {
    return RunOutcome::Error("Write Flash Error!", sections.reason);
  }
  return CloseDialogue();
}

// From before the first byte reaches the printer until the run ends, whichever way it
// ends. Without the lock the update goes on all the same.
void UpdateRun::KeepMachineAwake() {
  if (env_.stayAwake) {
    awake_ = env_.stayAwake("Updating the firmware of the printer at " + session_.PrinterPath());
  }
}

StepResult UpdateRun::CheckMacAddress() {
  session_.ShowStatus("Check MAC ADDR...");
  session_.Sleep(wait::kSettleMs);
  session_.Write(CkidCommand());
  const DirectReply reply = session_.ReadReply();
  if (reply.count > 0 && TrimReply(reply.text) == reply::kOk) return StepResult::Done();
  session_.Write(LedCommand(Led::kNoMacAddress));
  return StepResult::Failed(reply.count > 0 ? "the printer answered \"" +
                                                  platform::Printable(TrimReply(reply.text)) + "\""
                                            : "the printer did not answer \"CKID\"");
}

StepResult UpdateRun::WriteSections(RunProgress& progress) {
  session_.ShowStatus("Update...");
  fwp::TOPFile& package = items_->Package();
  const int32_t mode = SectionMode(package);
  size_t planIndex = 0;
  for (size_t i = 0; i < package.ItemNames().size(); ++i) {
    const fwp::TFileBase* item = package.ItemAt(i);
    if (item == nullptr) continue;
    const FlashSection* section = SectionFor(item->Type);
    if (section == nullptr) continue;
    const SectionItem sectionItem{package.WorkFolder() + item->FileName, item->FileName, *section,
                                  planIndex++};
    StepResult written = WriteSection(session_, ui_, progress, sectionItem, mode);
    if (!written) return written;
  }
  return StepResult::Done();
}

RunOutcome UpdateRun::CloseDialogue() {
  session_.Sleep(wait::kSettleMs);
  session_.Write(LinkCommand());
  session_.EndPrinterWrite();
  const DirectReply reply = session_.ReadReply();
  if (reply.count <= 0) {
    session_.Write(BuzzerCommand(Buzzer::kNoLinkReply));
    return RunOutcome::Error("Write Flash Error!", "the printer did not answer \"LINK\"");
  }
  session_.Write(BuzzerCommand(Buzzer::kUpdateDone));
  RunOutcome outcome = RunOutcome::Success(kUpdateSuccess, "Info");
  outcome.onStatusLine = true;
  return outcome;
}

}  // namespace app
