#include "workflow/printer_session.h"

#include <algorithm>
#include <array>

#include "workflow/printer_vocabulary.h"

namespace app {
PrinterSession::PrinterSession(CommandChannel& channel, MainWindowUi& ui, Clock& clock)
    : channel_(channel), ui_(ui), clock_(clock) {}

PrinterSession::RunScope PrinterSession::BeginRun() {
  runActive_ = true;
  writingPrinter_ = false;
  flashStartedMs_.reset();
  channel_.BeginRun();
  windowClosed_ = false;
  interruptsWarned_ = 0;
  return RunScope(*this);
}

void PrinterSession::EndRun() {
  runActive_ = false;
  writingPrinter_ = false;
  // What was asked during the run has been answered by it (or deliberately put off).
  if (stopSource_) baseline_ = stopSource_();
}

void PrinterSession::BeginPrinterWrite() {
  CheckStop();
  writingPrinter_ = true;
  if (!flashStartedMs_) flashStartedMs_ = clock_.NowMs();
}

StopRequests PrinterSession::PendingRequests() const {
  if (!stopSource_) return {};
  const StopRequests now = stopSource_();
  return {now.interrupts - baseline_.interrupts, now.terminations - baseline_.terminations};
}

void PrinterSession::CheckStop() {
  if (!runActive_) return;
  if (windowClosed_) throw RunStopped{StopCause::kWindowClosed};
  const StopRequests pending = PendingRequests();
  if (pending.terminations > 0) throw RunStopped{StopCause::kTermination};
  // An interrupt the operator was told would not stop the run does not stop it later.
  if (pending.interrupts <= interruptsWarned_) return;
  if (!writingPrinter_ || pending.interrupts >= 2) throw RunStopped{StopCause::kInterrupt};
  interruptsWarned_ = pending.interrupts;
  ui_.ShowNotice(
      "Stopping now would leave the printer without complete firmware; the update goes "
      "on. Press Ctrl-C again to stop anyway.");
}

bool PrinterSession::StopPending() const {
  if (!runActive_) return false;
  const StopRequests pending = PendingRequests();
  return pending.terminations > 0 || pending.interrupts > interruptsWarned_;
}

std::string PrinterSession::WaitForReply(bool keepReply, uint32_t timeLimitMs) {
  auto gather = channel_.GatherReplies(keepReply);
  const uint32_t deadline = channel_.DeadlineAfter(timeLimitMs);
  const uint64_t startMs = clock_.NowMs();
  while (channel_.NotPast(deadline) && WithinTime(startMs, timeLimitMs)) {
    if (HasCompleteLine(channel_.ReplyText())) break;
    ui_.PumpMessages();
    CheckStop();
    clock_.SleepMs(1);
  }
  return channel_.ReplyText();
}

void PrinterSession::Delay(uint32_t ms) {
  const uint32_t deadline = channel_.DeadlineAfter(ms);
  const uint64_t startMs = clock_.NowMs();
  while (channel_.NotPast(deadline) && WithinTime(startMs, ms)) {
    ui_.PumpMessages();
    CheckStop();
    clock_.SleepMs(1);
  }
}

// In slices, so that a request to stop does not wait for the end of a long sleep.
void PrinterSession::Sleep(uint32_t ms) {
  const uint64_t endMs = clock_.NowMs() + ms;
  for (uint64_t now = clock_.NowMs(); now < endMs; now = clock_.NowMs()) {
    CheckStop();
    clock_.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(endMs - now, 10)));
  }
  CheckStop();
}

bool PrinterSession::WithinTime(uint64_t startMs, uint32_t limitMs) {
  return clock_.NowMs() - startMs < limitMs + CommandChannel::kLateTickAllowanceMs;
}

std::optional<OpenPrinter> PrinterSession::Open() {
  if (!channel_.OpenPrinterChannel()) return std::nullopt;
  return std::optional<OpenPrinter>(std::in_place, channel_);
}

bool PrinterSession::Reopen() {
  channel_.OpenPrinterChannel();
  return channel_.IsPrinterChannelOpen();
}

DirectReply PrinterSession::ReadReply() {
  std::array<char, reply::kDirectCapacity + 1> buffer{};
  DirectReply reply;
  reply.count = channel_.ReadReplyUntil(buffer.data(), reply::kDirectCapacity, wait::kReplyIdleMs,
                                        "\r\n", [this] { CheckStop(); });
  reply.text = buffer.data();
  return reply;
}

}  // namespace app
