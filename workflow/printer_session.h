// The printer dialogue as the update's steps see it: the waits that keep the window
// alive while the timer gathers replies, the plain sleeps, the status line, the printer
// connection with a guard that closes it, and the rules for stopping a run half way.
// Everything here runs on the GUI thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "workflow/clock.h"
#include "workflow/command_channel.h"
#include "workflow/main_window_ui.h"
#include "workflow/stop_request.h"

namespace app {

class PrinterSession;

// The printer connection of one run: closes the channel when it goes, on every path.
class OpenPrinter {
 public:
  explicit OpenPrinter(CommandChannel& channel) : channel_(&channel) {}
  OpenPrinter(OpenPrinter&& other) noexcept : channel_(other.channel_) { other.channel_ = nullptr; }
  OpenPrinter& operator=(OpenPrinter&& other) noexcept {
    if (this != &other) {
      Close();
      channel_ = std::exchange(other.channel_, nullptr);
    }
    return *this;
  }
  OpenPrinter(const OpenPrinter&) = delete;
  OpenPrinter& operator=(const OpenPrinter&) = delete;
  ~OpenPrinter() { Close(); }

  // Closes now, once the printer has taken the end of the data; false when it did not
  // take it in time. Closing again does nothing and is true.
  bool Close() {
    if (channel_ == nullptr) return true;
    CommandChannel* channel = std::exchange(channel_, nullptr);
    channel->ClosePrinterChannel();
    return !channel->LastCloseLostData();
  }

 private:
  CommandChannel* channel_;
};

// A reply read directly (without pumping): the bytes gathered, and their text.
struct DirectReply {
  int32_t count = 0;  // as ReadReplyUntil: > 0 something came, 0 nothing, -1 failed
  std::string text;
};

class PrinterSession {
 public:
  PrinterSession(CommandChannel& channel, MainWindowUi& ui, Clock& clock);
  PrinterSession(const PrinterSession&) = delete;
  PrinterSession& operator=(const PrinterSession&) = delete;

  // The front end's count of stop requests. Without one, nothing stops a run.
  void SetStopSource(StopSource source) { stopSource_ = std::move(source); }

  // The 10 ms timer's tick.
  void OnTick() { channel_.OnTick(); }

  // While it lives, a request to stop ends the run at its next wait or check; after it,
  // requests to stop are the front end's business again.
  class RunScope {
   public:
    explicit RunScope(PrinterSession& session) : session_(&session) {}
    RunScope(RunScope&& other) noexcept : session_(other.session_) { other.session_ = nullptr; }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
    RunScope& operator=(RunScope&&) = delete;
    ~RunScope() {
      if (session_ != nullptr) session_->EndRun();
    }

   private:
    PrinterSession* session_;
  };
  [[nodiscard]] RunScope BeginRun();
  bool RunActive() const { return runActive_; }
  // From the firmware image until "LINK" the printer holds incomplete firmware: a first
  // Ctrl-C only warns, a second one (or SIGTERM, SIGHUP, a confirmed close) stops after
  // the write in progress.
  void BeginPrinterWrite();
  void EndPrinterWrite() { writingPrinter_ = false; }
  bool WritingPrinter() const { return runActive_ && writingPrinter_; }
  // When the last run began to write the printer (the firmware image); nullopt when it
  // never got that far. Kept after the run, until the next one begins.
  std::optional<uint64_t> FlashStartedMs() const { return flashStartedMs_; }
  // Asks the run to stop at its next wait or check (the window's close, confirmed).
  void RequestStop() { windowClosed_ = true; }
  // Requests that came in since the run began (or since the last run ended).
  StopRequests PendingRequests() const;
  // Throws RunStopped when a request to stop applies now.
  void CheckStop();
  // True when a request to stop came that the run has not answered yet: a termination, or
  // an interrupt beyond those it warned of. Nothing waits on the printer while the
  // operator is asked something, so the first Ctrl-C counts here even while the printer
  // holds incomplete firmware. The window's close is not counted: it asks first.
  bool StopPending() const;

  void ShowStatus(const std::string& text) { ui_.SetStatusText(text); }
  void Refresh() { ui_.Refresh(); }

  // Waits up to timeLimitMs for a complete reply line, keeping the window alive; the
  // text gathered, which may be empty, partial or more than one line.
  std::string WaitForReply(bool keepReply, uint32_t timeLimitMs);
  // Keeps the window alive for ms milliseconds (one tick more, as the timer counts).
  void Delay(uint32_t ms);
  // Blocks without handling any event (the window does not repaint meanwhile).
  void Sleep(uint32_t ms);

  // Opens the printer; the guard closes it again. nullopt when no printer opened.
  [[nodiscard]] std::optional<OpenPrinter> Open();
  // Opens the printer again after it went away; true when the channel is open.
  bool Reopen();
  bool IsOpen() const { return channel_.IsPrinterChannelOpen(); }
  // Why the last Open or Reopen found no usable printer; for the detail line only.
  OpenFailure LastOpenFailure() const { return channel_.LastOpenFailure(); }
  const std::string& PrinterPath() const { return channel_.PrinterPath(); }
  const std::optional<PrinterInfo>& OpenedPrinter() const { return channel_.OpenedPrinter(); }
  // True when the run's printer is on its USB port now.
  bool PrinterAttached() { return channel_.PrinterAttached(); }
  // A note for the dialogue's listener: a data block summarised, never its bytes.
  void NoteData(const std::string& summary) { channel_.Note(summary); }
  // Closes the printer once it has taken the end of the data; false when it did not
  // take it within the write stall limit (the driver dropped it).
  bool Close() {
    channel_.ClosePrinterChannel();
    return !channel_.LastCloseLostData();
  }
  int32_t Write(std::string_view text) { return channel_.WriteToPrinter(text); }
  int32_t Write(const void* data, int32_t count) { return channel_.WriteToPrinter(data, count); }
  // The reply to "CKID" or "LINK": up to a line break, 1,023 bytes at most, giving up
  // after 20 s without data.
  DirectReply ReadReply();

  // Replies gathered by the timer while the guard lives (the data phase of a block).
  [[nodiscard]] CommandChannel::ReplyGathering GatherReplies() { return channel_.GatherReplies(); }
  const std::string& ReplyText() const { return channel_.ReplyText(); }

 private:
  void EndRun();
  // True while the wait that started at startMs with limitMs may go on by the clock.
  bool WithinTime(uint64_t startMs, uint32_t limitMs);

  CommandChannel& channel_;
  MainWindowUi& ui_;
  Clock& clock_;
  StopSource stopSource_;
  StopRequests baseline_;
  bool runActive_ = false;
  bool writingPrinter_ = false;
  std::optional<uint64_t> flashStartedMs_;
  bool windowClosed_ = false;
  int interruptsWarned_ = 0;
};

}  // namespace app
