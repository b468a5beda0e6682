#include "app/command_channel.h"

#include <algorithm>
#include <cstring>

namespace app {

CommandChannel::CommandChannel(PrinterPort& port, Clock& clock)
    : port_(port), clock_(clock), scratch_(kScratchSize) {}

CommandChannel::ReplyGathering CommandChannel::GatherReplies(bool keepReply) {
  replyPumpActive_ = true;
  if (!keepReply) replyText_.clear();
  return ReplyGathering(*this);
}

bool CommandChannel::OpenPrinterChannel() {
  if (IsPrinterChannelOpen()) return true;
  std::vector<PrinterInfo> printers = port_.Discover();
  if (printers.empty()) return false;
  // Only the first printer found is ever used.
  printerPath_ = printers.front().openPath;
  return port_.Open(printerPath_);
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
  return WriteToPrinter(text.data(), static_cast<int32_t>(text.size()));
}

int32_t CommandChannel::ReadFromPrinter(void* buffer, int32_t capacity) {
  if (!IsPrinterChannelOpen()) return -1;
  int32_t result = port_.Read(buffer, capacity);
  if (result < 0) port_.Close();
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
    int32_t received = ReadFromPrinter(scratch_.data(), kScratchSize);
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
  port_.Close();
  return true;
}

void CommandChannel::OnTick() {
  ++tickCount_;
  if (!replyPumpActive_) return;
  if (IsPrinterChannelOpen()) {
    char chunk[kPumpChunk] = {};
    int32_t received = ReadFromPrinter(chunk, kPumpChunk);
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
