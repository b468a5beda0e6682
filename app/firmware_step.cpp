// The firmware-loader step: connect line, second line, "DF" line with the image, the
// printer's restart, the reconnect and its request for the rest of the update.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Unit_mainform.h"
#include "app/text_tools.h"
#include "package/opfile.h"
#include "platform/file.h"

namespace app {
namespace {

constexpr int64_t kImageBufferSize = 1048576;
constexpr int kReconnectAttempts = 80;
constexpr uint32_t kConnectWaitMs = 3000;
constexpr uint32_t kSendNextWaitMs = 20000;
constexpr uint32_t kFirmwareStartMs = 5000;
constexpr uint32_t kReconnectDelayMs = 500;

const TFileBase* FirstFirmwareItem(const TOPFile& package) {
  for (size_t i = 0; i < package.ItemNames().size(); ++i) {
    const TFileBase* item = package.ItemAt(i);
    if (item != nullptr && item->Type == "frw") return item;
  }
  return nullptr;
}

// Reads the whole image; an image that does not fit the printer's 1 MiB loader buffer
// is refused rather than cut short.
bool ReadImage(const std::string& path, std::vector<uint8_t>& image, std::string& problem) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) {
    problem = "can not open " + path + ": " + std::strerror(file.LastError());
    return false;
  }
  int64_t size = file.Size();
  if (size < 0) {
    problem = "can not read " + path + ": " + std::strerror(file.LastError());
    return false;
  }
  if (size > kImageBufferSize) {
    problem = "frw image " + path + " is " + std::to_string(size) +
              " bytes, more than the 1048576 the printer takes";
    return false;
  }
  image.resize(static_cast<size_t>(size));
  int64_t got = file.Read(image.data(), image.size());
  if (got != size) {
    problem = "can not read " + path;
    return false;
  }
  return true;
}

std::string DfLine(size_t size, int64_t sum) {
  char line[96];
  std::snprintf(line, sizeof line, "%s %d %d %d %d\r\n", "DF", 0, 536870912, static_cast<int>(size),
                static_cast<int>(sum));
  return line;
}

}  // namespace

bool TMainForm::SendFirmware(const TOPFile& package) {
  const TFileBase* item = FirstFirmwareItem(package);
  firmwareProblem_.clear();
  if (item == nullptr) {
    firmwareProblem_ = "the package has no \"frw\" item";
    return false;
  }
  const std::string imagePath = package.WorkFolder() + item->FileName;
  std::vector<uint8_t> image;
  if (!ReadImage(imagePath, image, firmwareProblem_)) return false;
  channel_.ReplyText.clear();

  const std::string connect = TextLine(item->Commands, 0) + "\r\n";
  int32_t written = channel_.WriteToPrinter(connect);
  ShowStatus(connect);
  ui_.Refresh();
  if (written < 0) return WriteFailed("the connect line");

  Delay(10);
  const std::string connectReply = TrimReply(WaitForReply(false, kConnectWaitMs));
  ShowStatus(connectReply);
  if (connectReply != "Connect Success!") {
    firmwareProblem_ = "no \"Connect Success!\" within 3 s";
    return false;
  }

  if (channel_.WriteToPrinter(TextLine(item->Commands, 1) + "\r\n") < 0) {
    return WriteFailed("the second command line");
  }

  const std::string announce = DfLine(image.size(), ByteSum(image.data(), image.size()));
  ShowStatus("Send frw");
  ui_.Refresh();
  // The printer counts the image against the DF line: a line or an image that went out
  // only in part would leave it waiting for bytes that never come.
  if (channel_.WriteToPrinter(announce) != static_cast<int32_t>(announce.size())) {
    return WriteFailed("the DF line");
  }
  if (channel_.WriteToPrinter(image.data(), static_cast<int32_t>(image.size())) !=
      static_cast<int32_t>(image.size())) {
    return WriteFailed("the frw image");
  }

  // The printer now starts the image and leaves the bus for a while.
  std::vector<uint8_t>().swap(image);
  channel_.ClosePrinterChannel();
  ShowStatus("wait frw start");
  channel_.ReplyText.clear();
  clock_.SleepMs(kFirmwareStartMs);

  ShowStatus("check open usb");
  for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
    channel_.OpenPrinterChannel();
    if (channel_.IsPrinterChannelOpen()) break;
    Delay(kReconnectDelayMs);
  }
  if (!channel_.IsPrinterChannelOpen()) {
    firmwareProblem_ = "the printer did not come back after the frw image";
    return false;
  }

  const std::string request = TrimReply(WaitForReply(false, kSendNextWaitMs));
  ShowStatus(request);
  if (request != "Please send next!") {
    firmwareProblem_ = "no \"Please send next!\" within 20 s";
    return false;
  }
  return true;
}

bool TMainForm::WriteFailed(const char* what) {
  firmwareProblem_ = std::string("the printer did not take ") + what;
  return false;
}

}  // namespace app
