#include "workflow/firmware_step.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "workflow/printer_vocabulary.h"
#include "workflow/text_tools.h"
#include "workflow/update_check.h"

namespace app {
namespace {

StepResult NotTaken(const char* what) {
  return StepResult::Failed(std::string("the printer did not take ") + what);
}

// A reply that is not the one awaited: silence, or something else the printer said (as
// received, when it was nothing but blanks and control bytes).
StepResult WrongReply(const std::string& received, const char* expected, uint32_t waitMs) {
  if (received.empty()) {
    return StepResult::Failed("no \"" + std::string(expected) + "\" within " + SecondsText(waitMs));
  }
  const std::string trimmed = TrimReply(received);
  return StepResult::Failed(
      "the printer answered \"" +
      Escaped(trimmed.empty() ? received : trimmed, Escape::kAllButPrintableAscii) +
      "\" instead of \"" + expected + "\"");
}

// Reads the whole image; an image that does not fit the printer's 1 MiB loader buffer
// is refused rather than cut short.
StepResult ReadImage(const std::string& path, std::vector<uint8_t>& image) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) {
    return StepResult::Failed("can not open " + path + ": " + std::strerror(file.LastError()));
  }
  const int64_t size = file.Size();
  if (size < 0) {
    return StepResult::Failed("can not read " + path + ": " + std::strerror(file.LastError()));
  }
  if (std::string problem = ImageRefusal(path, size); !problem.empty()) {
    return StepResult::Failed(problem);
  }
  image.resize(static_cast<size_t>(size));
  if (file.Read(image.data(), image.size()) != size) {
    return StepResult::Failed("can not read " + path);
  }
  return StepResult::Done();
}

// The connect request, answered "Connect Success!", and the second line.
StepResult Connect(PrinterSession& session, const std::string& commands) {
  const std::string connect = FirmwareItemCommand(commands, 0);
  const int32_t written = session.Write(connect);
  session.ShowStatus(connect);
  session.Refresh();
  if (written < 0) return NotTaken("the connect line");

  session.Delay(wait::kAfterConnectMs);
  const std::string received = session.WaitForReply(false, wait::kConnectMs);
  const std::string reply = TrimReply(received);
  session.ShowStatus(reply);
  if (reply != reply::kConnectSuccess) {
    return WrongReply(received, reply::kConnectSuccess, wait::kConnectMs);
  }
  if (session.Write(FirmwareItemCommand(commands, 1)) < 0) {
    return NotTaken("the second command line");
  }
  return StepResult::Done();
}

// From here on the printer's firmware is being replaced. The printer counts the image
// against the DF line: a line or an image that went out only in part would leave it
// waiting for bytes that never come.
StepResult SendImage(PrinterSession& session, std::vector<uint8_t> image) {
  const std::string announce =
      DfCommand(static_cast<int64_t>(image.size()), ByteSum(image.data(), image.size()));
  session.ShowStatus(kSendImageStep);
  session.Refresh();
  session.BeginPrinterWrite();
  if (session.Write(announce) != static_cast<int32_t>(announce.size())) {
    return NotTaken("the DF line");
  }
  session.NoteData("frw image: " + std::to_string(image.size()) + " bytes");
  if (session.Write(image.data(), static_cast<int32_t>(image.size())) !=
      static_cast<int32_t>(image.size())) {
    return NotTaken("the frw image");
  }
  return StepResult::Done();
}

// A printer that came back and could not be opened (not ours to open, held by another
// program or driver) did come back: saying it did not would send the operator looking
// at the cable.
std::string NotBack(const OpenFailure& failure) {
  const std::string notBack = "the printer did not come back after the frw image";
  switch (failure.reason) {
    case OpenFailure::Reason::kNone:
      return notBack;
    case OpenFailure::Reason::kNoPrinter:
      return failure.detail.empty() ? notBack : notBack + "\n" + failure.detail;
    default:
      return "the printer came back after the frw image but could not be opened" +
             (failure.detail.empty() ? std::string() : ": " + failure.detail);
  }
}

// The printer starts the image and leaves the bus for a while; it is looked for again
// until it is back, and then asks for the rest of the update.
StepResult AwaitRestart(PrinterSession& session) {
  // The close waits until the printer has taken the image's last chunk: closed before
  // that, the driver would drop it and the loader would wait for bytes that never come.
  if (!session.Close()) {
    return StepResult::Failed("the printer did not take the end of the frw image within " +
                              SecondsText(kWriteStallLimitMs) +
                              ", so it never got the whole image");
  }
  session.ShowStatus("wait frw start");
  session.Sleep(wait::kFirmwareStartMs);

  session.ShowStatus("check open usb");
  for (int attempt = 0; attempt < wait::kReconnectAttempts; ++attempt) {
    if (session.Reopen()) break;
    session.Delay(wait::kReconnectDelayMs);
  }
  if (!session.IsOpen()) return StepResult::Failed(NotBack(session.LastOpenFailure()));

  const std::string received = session.WaitForReply(false, wait::kSendNextMs);
  const std::string request = TrimReply(received);
  session.ShowStatus(request);
  if (request != reply::kSendNext) return WrongReply(received, reply::kSendNext, wait::kSendNextMs);
  return StepResult::Done();
}

}  // namespace

const fwp::TFileBase* FirstFirmwareItem(const fwp::TOPFile& package) {
  for (size_t i = 0; i < package.ItemNames().size(); ++i) {
    const fwp::TFileBase* item = package.ItemAt(i);
    if (item != nullptr && item->Type == fwp::kFirmwareType) return item;
  }
  return nullptr;
}

StepResult SendFirmware(PrinterSession& session, const fwp::TOPFile& package) {
  const fwp::TFileBase* item = FirstFirmwareItem(package);
  if (item == nullptr) return StepResult::Failed(kNoFirmwareItem);
  std::vector<uint8_t> image;
  if (StepResult read = ReadImage(package.WorkFolder() + item->FileName, image); !read) {
    return read;
  }
  if (StepResult connected = Connect(session, item->Commands); !connected) return connected;
  if (StepResult sent = SendImage(session, std::move(image)); !sent) return sent;
  return AwaitRestart(session);
}

}  // namespace app
