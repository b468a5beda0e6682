// The command channel: one printer connection on top of the printer port, the reply
// text that the 10 ms timer gathers, and the tick counter that every wait counts in.
// Everything here runs on the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/clock.h"
#include "workflow/dialogue_log.h"
#include "workflow/printer_port_seam.h"
#include "workflow/tick_schedule.h"

namespace app {

class CommandChannel {
 public:
  static constexpr uint32_t kMsPerTick = TickSchedule::kPeriodMs;
  // Waits count ticks, but a tick that something made slow (a reopen that takes long)
  // must not stretch a wait: a wait also ends once this much time has passed beyond its
  // limit by the clock.
  static constexpr uint64_t kLateTickAllowanceMs = 250;

  CommandChannel(PrinterPort& port, Clock& clock);
  CommandChannel(const CommandChannel&) = delete;
  CommandChannel& operator=(const CommandChannel&) = delete;

  // While it lives, each tick moves received bytes into ReplyText (or reopens a lost
  // printer); it starts with an empty ReplyText unless told to keep it. One at a time.
  class ReplyGathering {
   public:
    explicit ReplyGathering(CommandChannel& channel) : channel_(&channel) {}
    ReplyGathering(ReplyGathering&& other) noexcept : channel_(other.channel_) {
      other.channel_ = nullptr;
    }
    ReplyGathering(const ReplyGathering&) = delete;
    ReplyGathering& operator=(const ReplyGathering&) = delete;
    ReplyGathering& operator=(ReplyGathering&&) = delete;
    ~ReplyGathering() {
      if (channel_ != nullptr) channel_->replyPumpActive_ = false;
    }

   private:
    CommandChannel* channel_;
  };
  [[nodiscard]] ReplyGathering GatherReplies(bool keepReply = false);

  // Ticks of the 10 ms timer since start; wraps modulo 2^32.
  uint32_t TickCount() const { return tickCount_; }
  // Reply bytes the pump gathered since gathering began.
  const std::string& ReplyText() const { return replyText_; }
  bool ReplyPumpActive() const { return replyPumpActive_; }

  // Opens the run's printer, unless the channel is open already: the first printer that
  // discovery finds, or once the run has a printer, only the one on its USB port. A run
  // keeps its printer through the printer's restart, whatever node it comes back on,
  // and never takes another printer that is attached or appears meanwhile.
  bool OpenPrinterChannel();
  bool IsPrinterChannelOpen() const;
  // Why the last open found no usable printer (see PrinterPort::LastOpenFailure).
  OpenFailure LastOpenFailure() const { return port_.LastOpenFailure(); }
  // The node of the printer the channel opened last; empty before the first one.
  const std::string& PrinterPath() const { return printerPath_; }
  // The printer the channel opened last, with its USB port and serial number.
  const std::optional<PrinterInfo>& OpenedPrinter() const { return opened_; }

  // Every run uses only the printer on this USB port (a choice made before the run).
  void ChoosePort(std::string portPath);
  // A run begins: it has no printer yet, unless one was chosen beforehand.
  void BeginRun();
  // True when the run's printer is on its USB port now (a fresh look at the bus).
  bool PrinterAttached();

  // Hears the dialogue from now on; nullptr for nobody. The log must outlive its use.
  void SetDialogueLog(DialogueLog* log) { log_ = log; }
  void Note(const std::string& text) {
    if (log_ != nullptr) log_->Note(text);
  }
  // The port's result; -1 without touching the port when the channel is not open. A
  // negative port result closes the port, so the next open starts afresh.
  int32_t WriteToPrinter(const void* data, int32_t count);
  int32_t WriteToPrinter(std::string_view text);
  int32_t ReadFromPrinter(void* buffer, int32_t capacity);
  // Gathers reply bytes into buffer (zero-filled by the caller, capacity + 1 bytes) until
  // its text holds marker, without pumping events. idleLimitMs restarts with every chunk.
  // Returns the bytes gathered (0 when nothing came), or -1 when the channel is not open
  // or a chunk would leave no room for a terminating zero. whileIdle, when given, runs
  // after every empty poll.
  int32_t ReadReplyUntil(char* buffer, int32_t capacity, int32_t idleLimitMs,
                         std::string_view marker, const std::function<void()>& whileIdle = {});
  // Closes the port once the printer has taken the end of the data (or gave up waiting
  // for it: see LastCloseLostData). Always true.
  bool ClosePrinterChannel();
  // True when the last close gave up waiting: the printer did not take the end of the
  // data written before it.
  bool LastCloseLostData() const { return port_.LastCloseLostData(); }

  // The timer's share of the channel: count the tick and, while the pump is active,
  // gather the reply or try to get the printer back.
  void OnTick();

  // The tick at which a wait of ms milliseconds that starts now has reached its limit.
  uint32_t DeadlineAfter(uint32_t ms) const { return tickCount_ + ms / kMsPerTick; }
  // True when the deadline (in ticks) has not yet been passed by TickCount.
  bool NotPast(uint32_t deadline) const { return static_cast<int32_t>(deadline - tickCount_) >= 0; }

 private:
  PrinterPort& port_;
  Clock& clock_;
  std::vector<char> scratch_;
  uint32_t tickCount_ = 0;
  bool replyPumpActive_ = false;
  std::string replyText_;
  std::string printerPath_;
  std::optional<PrinterInfo> opened_;
  std::string chosenPort_;  // chosen before any run; "" for the first printer found
  std::string pinnedPort_;  // the run's printer's port
  DialogueLog* log_ = nullptr;
};

}  // namespace app
