// The update procedure behind the "Update" button: find and check the package, open the
// printer, run the firmware step, check the MAC address, write the flash sections block
// by block and close the dialogue with "LINK".
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit_mainform.h"
#include "app/text_tools.h"
#include "package/hex_text.h"
#include "package/linked_package.h"
#include "package/opfile.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace app {
namespace {

struct Section {
  const char* type;
  int code;
  int64_t blockSize;
};

constexpr std::array<Section, 3> kSections = {{
    {"bootloader", 0, 2097152},
    {"system", 3, 1048576},
    {"font", 4, 131072},
}};

constexpr int32_t kReplyCapacity = 1023;
constexpr int32_t kReplyIdleMs = 20000;
constexpr uint32_t kBlockReplyMs = 60000;
constexpr uint32_t kSettleMs = 500;
constexpr size_t kPieceSize = 1024;
constexpr int32_t kHexBytesPerLine = 32;

const Section* SectionFor(const std::string& type) {
  for (const Section& section : kSections) {
    if (type == section.type) return &section;
  }
  return nullptr;
}

std::string SetitLine(int code, int64_t offset, int64_t length, int64_t sum, int32_t mode) {
  char line[128];
  std::snprintf(line, sizeof line, "SETIT TP=%d,ADD=%d,LEN=%d,CK=%d,MD=%d\r\n", code,
                static_cast<int>(offset), static_cast<int>(length), static_cast<int>(sum), mode);
  return line;
}

int Percent(int64_t part, int64_t whole) {
  if (whole <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(100, part * 100 / whole));
}

}  // namespace

// One run of the procedure. Its destructor is the clean-up that every exit takes.
class UpdateRun {
 public:
  explicit UpdateRun(TMainForm& form)
      : form_(form), ui_(form.Ui()), channel_(form.Channel()), clock_(form.SystemClock()) {}
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;
  ~UpdateRun() { CleanUp(); }

  int32_t Run();

 private:
  bool ReserveLibraryFile();
  bool FindPackage();
  bool WriteLibraryImage();
  bool PackageIsForThisPrinter() const;
  int32_t TalkToPrinter();
  bool CheckMacAddress();
  bool WriteSections();
  bool WriteSection(const TFileBase& item, const Section& section);
  bool SendBlock(const Section& section, int64_t offset, const uint8_t* data, int64_t length,
                 int64_t sectionSize);
  void CloseDialogue();
  int32_t Fail(const std::string& text, const std::string& detail = {});
  void CleanUp();

  TMainForm& form_;
  MainWindowUi& ui_;
  CommandChannel& channel_;
  Clock& clock_;

  std::string packagePath_;
  bool extractedPackage_ = false;
  std::string tempLibraryPath_;
  std::unique_ptr<TOPFile> package_;
  int32_t mode_ = 0;
  bool channelInUse_ = false;  // opened by this run and not yet closed
  std::string sectionProblem_;
};

int32_t UpdateRun::Run() {
  if (!ReserveLibraryFile()) {
    form_.ErrorBox("Create dll File Failed", "no temporary file could be made beside " +
                                                 form_.Environment().executablePath + " or in " +
                                                 platform::TempFolder());
    return -1;
  }
  if (!FindPackage()) return -1;
  if (!WriteLibraryImage()) {
    form_.ErrorBox("Create dll File Failed!", tempLibraryPath_);
    return -1;
  }
  if (!PackageIsForThisPrinter()) {
    form_.ShowStatus("Error fwp data!");
    form_.ErrorBox("Error fwp data!",
                   packagePath_.empty() ? "the linked package could not be extracted"
                                        : "not an update package for VRQPrinter: " + packagePath_);
    return 0;
  }
  return TalkToPrinter();
}

// The "_^~" file that receives the library image lies beside the executable, or in the
// temporary-files folder when the executable's folder is not writable (an installed copy).
bool UpdateRun::ReserveLibraryFile() {
  tempLibraryPath_ = platform::CreateTempFile(
      platform::FolderOf(form_.Environment().executablePath), linked::kTempPrefix);
  if (tempLibraryPath_.empty()) {
    tempLibraryPath_ = platform::CreateTempFile(platform::TempFolder(), linked::kTempPrefix);
  }
  return !tempLibraryPath_.empty();
}

bool UpdateRun::FindPackage() {
  const std::string& executable = form_.Environment().executablePath;
  if (HasLinkedPackage(executable)) {
    packagePath_ = executable;
    form_.ShowStatus("Find update!");
    if (HasLinkedPackage(packagePath_)) {
      packagePath_ = ExtractLinkedPackageToTemp(packagePath_);
      extractedPackage_ = true;
    }
    return true;
  }
  if (!ui_.AskOkCancel("no found resource file,select file from open file dialog?\r\n"
                       "or get the application with resource file",
                       "select ...")) {
    return false;
  }
  std::optional<std::string> chosen = ui_.ChooseFile(form_.OpenDialog1());
  if (!chosen) return false;
  packagePath_ = *chosen;
  return true;
}

bool UpdateRun::WriteLibraryImage() {
  std::optional<std::span<const uint8_t>> image;
  if (form_.Environment().libraryImage) image = form_.Environment().libraryImage();
  if (!image) return false;
  platform::File file =
      platform::File::Open(tempLibraryPath_, platform::File::Mode::kCreateTruncate);
  if (!file.IsOpen()) return false;
  if (file.Write(image->data(), image->size()) != static_cast<int64_t>(image->size())) return false;
  return file.Close();
}

bool UpdateRun::PackageIsForThisPrinter() const {
  return IsPackageFile(packagePath_) && ReadPackagePrinterName(packagePath_) == "VRQPrinter" &&
         ReadPackageKind(packagePath_) == "Update";
}

int32_t UpdateRun::TalkToPrinter() {
  mode_ = 0;
  if (!channel_.OpenPrinterChannel()) {
    form_.ShowStatus("Can not open usb port!");
    form_.ErrorBox("Can not open usb port!",
                   "no VRQPrinter found on USB, or it could not be opened");
    return 0;
  }
  channelInUse_ = true;
  package_ = std::make_unique<TOPFile>();
  package_->RemoveAllItems();
  if (!package_->Load(packagePath_)) {
    // Nothing of a package that did not load completely goes to the printer.
    form_.ShowStatus("Error fwp data!");
    return Fail("Error fwp data!", package_->LoadError());
  }
  ui_.SetProgressVisible(true);
  if (!form_.SendFirmware(*package_)) return Fail("Can not Run FRW!", form_.firmwareProblem_);
  if (!CheckMacAddress()) return 0;
  if (!WriteSections()) return Fail("Write Flash Error!", sectionProblem_);
  CloseDialogue();
  return 0;
}

bool UpdateRun::CheckMacAddress() {
  form_.ShowStatus("Check MAC ADDR...");
  clock_.SleepMs(kSettleMs);
  channel_.WriteToPrinter("CKID\r\n");
  std::array<char, kReplyCapacity + 1> reply{};
  int32_t got = channel_.ReadReplyUntil(reply.data(), kReplyCapacity, kReplyIdleMs, "\r\n");
  if (got > 0 && TrimReply(reply.data()) == "OK") return true;
  channel_.WriteToPrinter("LED TP=6\r\n");
  Fail("No MAC ADDR!", got > 0 ? "the printer answered \"" + TrimReply(reply.data()) + "\""
                               : "the printer did not answer \"CKID\"");
  return false;
}

bool UpdateRun::WriteSections() {
  form_.ShowStatus("Update...");
  const std::vector<std::string>& names = package_->ItemNames();
  for (size_t i = 0; i < names.size(); ++i) {
    const TFileBase* item = package_->ItemAt(i);
    if (item != nullptr && item->Type == "frw") mode_ = DecimalOrDefault(item->Mode, 0);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const TFileBase* item = package_->ItemAt(i);
    if (item == nullptr) continue;
    const Section* section = SectionFor(item->Type);
    if (section == nullptr) continue;
    if (!WriteSection(*item, *section)) return false;
  }
  return true;
}

bool UpdateRun::WriteSection(const TFileBase& item, const Section& section) {
  const std::string path = package_->WorkFolder() + item.FileName;
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  const int64_t size = file.IsOpen() ? file.Size() : -1;
  if (size < 0) {
    sectionProblem_ = "can not open " + item.Type + " file " + item.FileName + ": " +
                      std::strerror(file.LastError());
    return false;
  }
  std::vector<uint8_t> block(static_cast<size_t>(section.blockSize));
  channel_.WriteToPrinter("BUZZER TP=1\r\n");
  for (int64_t offset = 0; offset < size;) {
    ui_.SetProgress(Percent(offset, size));
    ui_.Refresh();
    ui_.PumpMessages();
    const int64_t want = std::min(size - offset, section.blockSize);
    const int64_t got = file.Read(block.data(), static_cast<size_t>(want));
    // A file that cannot be read on, or shrank, must not turn into empty blocks sent
    // over and over.
    if (got <= 0) {
      sectionProblem_ = "can not read " + item.Type + " file " + item.FileName;
      return false;
    }
    if (!SendBlock(section, offset, block.data(), got, size)) {
      sectionProblem_ = item.Type + " block at " + std::to_string(offset) + " not acknowledged";
      return false;
    }
    offset += got;
  }
  ui_.Refresh();
  return true;
}

// The SETIT data phase. The pump gathers replies while the hex text goes out, so that a
// printer that objects early stops the sending; the verdict is the reply awaited after.
bool UpdateRun::SendBlock(const Section& section, int64_t offset, const uint8_t* data,
                          int64_t length, int64_t sectionSize) {
  const std::string hex = BytesToHexText(data, static_cast<int32_t>(length), kHexBytesPerLine);
  channel_.ReplyPumpActive = true;
  channel_.ReplyText.clear();
  channel_.WriteToPrinter(
      SetitLine(section.code, offset, length, ByteSum(data, static_cast<size_t>(length)), mode_));
  for (size_t sent = 0; sent < hex.size();) {
    const size_t piece = std::min(kPieceSize, hex.size() - sent);
    int32_t written = channel_.WriteToPrinter(hex.data() + sent, static_cast<int32_t>(piece));
    if (written < 0) break;
    if (written > 0) {
      sent += static_cast<size_t>(written);
      ui_.SetProgress(Percent(offset + static_cast<int64_t>(sent / 2), sectionSize));
    }
    form_.Delay(10);
    if (HasCompleteLine(channel_.ReplyText) && channel_.ReplyText != "OK\r\n") break;
  }
  channel_.ReplyPumpActive = false;
  return TrimReply(form_.WaitForReply(false, kBlockReplyMs)) == "OK";
}

void UpdateRun::CloseDialogue() {
  clock_.SleepMs(kSettleMs);
  channel_.WriteToPrinter("LINK\r\n");
  std::array<char, kReplyCapacity + 1> reply{};
  int32_t got = channel_.ReadReplyUntil(reply.data(), kReplyCapacity, kReplyIdleMs, "\r\n");
  if (got <= 0) {
    channel_.WriteToPrinter("BUZZER TP=3\r\n");
    Fail("Write Flash Error!", "the printer did not answer \"LINK\"");
    return;
  }
  channel_.WriteToPrinter("BUZZER TP=2\r\n");
  package_->RemoveAllItems();
  channel_.ClosePrinterChannel();
  channelInUse_ = false;
  form_.ShowStatus(texts::kUpdateSuccess);
  form_.SuccessBox(texts::kUpdateSuccess, "Info");
}

int32_t UpdateRun::Fail(const std::string& text, const std::string& detail) {
  if (package_) package_->RemoveAllItems();
  channel_.ClosePrinterChannel();
  channelInUse_ = false;
  form_.ErrorBox(text, detail);
  return 0;
}

void UpdateRun::CleanUp() {
  ui_.SetProgressVisible(false);
  ui_.SetProgress(0);
  channel_.ReplyPumpActive = false;
  // Only an error thrown out of the procedure gets here with the printer still open.
  if (channelInUse_) channel_.ClosePrinterChannel();
  if (package_) {
    package_->RemoveAllItems();
    package_.reset();
  }
  if (extractedPackage_ && !packagePath_.empty() && platform::PathExists(packagePath_)) {
    platform::DeleteFile(packagePath_);
  }
  if (!tempLibraryPath_.empty() && platform::PathExists(tempLibraryPath_)) {
    platform::DeleteFile(tempLibraryPath_);
  }
}

int32_t TMainForm::RunUpdate() {
  UpdateRun run(*this);
  return run.Run();
}

}  // namespace app
