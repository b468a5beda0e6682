#include "workflow/command_channel.h"

#include <algorithm>
#include <cstring>

#include "workflow/printer_vocabulary.h"

namespace app {

CommandChannel::CommandChannel(PrinterPort& port, Clock& clock)
    : port_(port), clock_(clock), scratch_(reply::kReadChunk) {}

CommandChannel::ReplyGathering CommandChannel::GatherReplies(bool keepReply) {
  replyPumpActive_ = true;
  if (!keepReply) replyText_.clear();
  return ReplyGathering(*this);
}

bool CommandChannel::OpenPrinterChannel() {
  if (IsPrinterChannelOpen()) return true;
  // Once the run has its printer, a look at the whole bus could hand it another one: a
  // second printer, or one that took the node the run's printer had before its restart.
  std::vector<PrinterInfo> printers =
      pinnedPort_.empty() ? port_.Discover() : port_.DiscoverOnPort(pinnedPort_);
  if (printers.empty()) return false;
  const PrinterInfo& printer = printers.front();
  if (!pinnedPort_.empty() && printer.portPath != pinnedPort_) return false;
  printerPath_ = printer.openPath;
  if (!port_.Open(printerPath_)) return false;
  if (pinnedPort_.empty()) pinnedPort_ = printer.portPath;
  opened_ = printer;
  Note("opened " + printer.openPath + " (USB port " + printer.portPath + ", serial " +
       (printer.serial.empty() ? "none" : printer.serial) + ")");
  return true;
}

void CommandChannel::ChoosePort(std::string portPath) {
  chosenPort_ = std::move(portPath);
  pinnedPort_ = chosenPort_;
}

void CommandChannel::BeginRun() {
  pinnedPort_ = chosenPort_;
  opened_.reset();
}

bool CommandChannel::PrinterAttached() {
  if (pinnedPort_.empty()) return !port_.Discover().empty();
  return !port_.DiscoverOnPort(pinnedPort_).empty();
}

bool CommandChannel::IsPrinterChannelOpen() const {
  return port_.IsOpen();
}

int32_t CommandChannel::WriteToPrinter(const void* data, int32_t count) {
  if (!IsPrinterChannelOpen()) return -1;
  int32_t result = port_.Write(data, count);
  if (result < 0) port_.Close();
  return result;
}

int32_t CommandChannel::WriteToPrinter(std::string_view text) {
  const int32_t result = WriteToPrinter(text.data(), static_cast<int32_t>(text.size()));
  if (log_ != nullptr) log_->Sent(text, result);
  return result;
}

int32_t CommandChannel::ReadFromPrinter(void* buffer, int32_t capacity) {
  if (!IsPrinterChannelOpen()) return -1;
  int32_t result = port_.Read(buffer, capacity);
  if (result < 0) port_.Close();
  if (result > 0 && log_ != nullptr) {
    log_->Received(std::string_view(static_cast<const char*>(buffer), static_cast<size_t>(result)));
  }
  return result;
}

int32_t CommandChannel::ReadReplyUntil(char* buffer, int32_t capacity, int32_t idleLimitMs,
                                       std::string_view marker,
                                       const std::function<void()>& whileIdle) {
  const int32_t idleTicks = idleLimitMs / static_cast<int32_t>(kMsPerTick);
  const uint64_t idleCapMs = static_cast<uint64_t>(std::max(idleLimitMs, 0)) + kLateTickAllowanceMs;
  int32_t budget = idleTicks;
  int32_t gathered = 0;
  if (!IsPrinterChannelOpen()) return -1;
  uint64_t lastChunkMs = clock_.NowMs();
  for (;;) {
    int32_t received = ReadFromPrinter(scratch_.data(), reply::kReadChunk);
    if (received > 0) {
      if (received >= capacity - gathered) return -1;
      std::memcpy(buffer + gathered, scratch_.data(), static_cast<size_t>(received));
      gathered += received;
      budget = idleTicks;
      lastChunkMs = clock_.NowMs();
      std::string_view text(buffer, strnlen(buffer, static_cast<size_t>(gathered)));
      if (text.find(marker) != std::string_view::npos) return gathered;
    } else if (received < 0) {
      return gathered;
    } else {
      clock_.SleepMs(kMsPerTick);
      if (whileIdle) whileIdle();
      if (budget == 0 || clock_.NowMs() - lastChunkMs >= idleCapMs) return gathered;
      --budget;
    }
  }
}

bool CommandChannel::ClosePrinterChannel() {
  const bool wasOpen = IsPrinterChannelOpen();
  port_.Close();
  if (!wasOpen) return true;
  Note("closed " + printerPath_ +
       (port_.LastCloseLostData() ? " (the printer did not take the end of the data)" : ""));
  return true;
}

void CommandChannel::OnTick() {
  ++tickCount_;
  if (!replyPumpActive_) return;
  if (IsPrinterChannelOpen()) {
    char chunk[reply::kPumpChunk] = {};
    int32_t received = ReadFromPrinter(chunk, reply::kPumpChunk);
    if (received > 0) {
      // Replies are text: a zero byte ends what is kept.
      size_t length = strnlen(chunk, static_cast<size_t>(received));
      replyText_.append(chunk, length);
    }
  } else {
    OpenPrinterChannel();
  }
}

}  // namespace app
