// Test doubles for the workflow: a virtual clock, a window that records what it is told
// and ticks from the virtual clock, and a scripted printer behind the port seam.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workflow/clock.h"
#include "workflow/main_window_ui.h"
#include "workflow/printer_port_seam.h"
#include "workflow/tick_schedule.h"

namespace apptest {

class VirtualClock final : public app::Clock {
 public:
  uint64_t NowMs() override { return now; }
  void SleepMs(uint32_t ms) override { now += ms; }
  uint64_t now = 1000;
};

struct Box {
  std::string text, caption, detail;
  app::BoxIcon icon;
  std::vector<std::string> warnings;  // the outcome box's
  bool progressShown = false;         // the bar was on show behind the box
};

class FakeUi final : public app::MainWindowUi {
 public:
  explicit FakeUi(VirtualClock& clock) : clock_(clock) { schedule_.Start(clock.now); }

  void SetCaption(const std::string& text) override { caption = text; }
  void SetButtonCaption(const std::string& text) override { buttonCaption = text; }
  void SetButtonEnabled(bool enabled) override { buttonStates.push_back(enabled); }
  void SetStatusText(const std::string& text) override { statuses.push_back(text); }
  void SetProgressVisible(bool visible) override { progressVisible = visible; }
  void SetProgress(int position) override { progress.push_back(position); }
  void ShowProgressFigures(const app::ProgressFigures& shown) override {
    figures.push_back(shown);
    figureTimes.push_back(clock_.NowMs());
  }
  void ShowPrinterPort(const std::string& portPath) override { ports.push_back(portPath); }
  void Refresh() override {}
  void PumpMessages() override {
    ++pumps;
    if (schedule_.Take(clock_.NowMs()) && onTick) onTick();
  }
  void ShowMessage(const std::string& text, const std::string& caption, app::BoxIcon icon,
                   const std::string& detail) override {
    boxes.push_back({text, caption, detail, icon, {}, progressVisible});
    if (whileBoxOpen) whileBoxOpen();
  }
  void ShowOutcome(const std::string& text, const std::string& caption, app::BoxIcon icon,
                   const std::string& detail, const std::vector<std::string>& warnings) override {
    ShowMessage(text, caption, icon, detail);
    boxes.back().warnings = warnings;
  }
  bool OutcomeOverTheRun() const override { return outcomeOverTheRun; }
  void ShowNotice(const std::string& text) override { notices.push_back(text); }
  app::Confirmation ConfirmUpdate(const app::UpdateSummary& summary,
                                  const std::function<void()>& whileWaiting) override {
    summaries.push_back(summary);
    if (whileWaiting) whileWaiting();
    return confirmation;
  }
  bool AskOkCancel(const std::string&, const std::string&) override {
    ++questions;
    if (whileBoxOpen) whileBoxOpen();
    return answerOk;
  }
  std::optional<std::string> ChooseFile(const app::FileDialogRequest& request) override {
    dialogs.push_back(request);
    if (whileBoxOpen) whileBoxOpen();
    return chosenFile;
  }

  std::function<void()> onTick;
  // Runs while a box, a question or the file dialog is open (a signal that comes then).
  std::function<void()> whileBoxOpen;
  // The window's order: the outcome's box over the run, before it gives anything back.
  bool outcomeOverTheRun = false;
  std::string caption, buttonCaption;
  std::vector<bool> buttonStates;
  std::vector<std::string> statuses;
  std::vector<int> progress;
  std::vector<app::ProgressFigures> figures;
  std::vector<uint64_t> figureTimes;
  std::vector<std::string> ports;
  std::vector<app::UpdateSummary> summaries;
  app::Confirmation confirmation = app::Confirmation::kYes;
  bool progressVisible = false;
  std::vector<Box> boxes;
  std::vector<std::string> notices;
  int questions = 0;
  bool answerOk = true;
  std::optional<std::string> chosenFile;
  std::vector<app::FileDialogRequest> dialogs;
  long pumps = 0;

 private:
  VirtualClock& clock_;
  app::TickSchedule schedule_;
};

// A printer that plays its side of the command dialogue on virtual time.
struct BlockSeen {
  int tp = 0, add = 0, len = 0, ck = 0, md = 0;
  std::string hex;
};

class ScriptedPrinter final : public app::PrinterPort {
 public:
  explicit ScriptedPrinter(VirtualClock& clock) : clock_(clock) {}

  // Port seam.
  std::vector<app::PrinterInfo> Discover() override;
  bool Open(const std::string& path) override;
  bool Close() override {
    // A printer that left for its restart is closed all the same: the port was open.
    const bool wasOpen = std::exchange(openedSinceClose_, false);
    if (wasOpen) ++closes;
    lastCloseLost_ = wasOpen && closes == loseDataAtClose;
    open_ = false;
    return true;
  }
  bool LastCloseLostData() const override { return lastCloseLost_; }
  int32_t Write(const void* data, int32_t length) override;
  int32_t Read(void* buffer, int32_t length) override;
  bool IsOpen() const override { return open_; }
  app::OpenFailure LastOpenFailure() const override { return lastFailure_; }

  // Queues bytes that arrive afterMs from now.
  void Reply(const std::string& bytes, uint64_t afterMs = 1);

  // Behaviour.
  bool present = true;
  std::string connectReply = "Connect Success!\r\n";
  std::string sendNextReply = "Please send next!\r\n";
  std::string ckidReply = "OK\r\n";
  std::optional<std::string> linkReply = "OK\r\n";
  uint64_t restartMs = 1500;
  uint64_t blockReplyMs = 50;
  std::function<std::string(const BlockSeen&)> blockReply = [](const BlockSeen&) {
    return "OK\r\n";
  };
  std::function<void(const std::string&)> onLine;  // every command line, as received
  std::optional<int32_t> takeAtMost;               // a write takes no more bytes than this
  // While set, the printer is listed but its node does not open, for this reason (from
  // its restart on only, with failOpensAfterRestart).
  std::optional<app::OpenFailure> openFailure;
  bool failOpensAfterRestart = false;
  std::string absentDetail;  // what LastOpenFailure says while it is not there
  bool opensFail = false;    // found by discovery, but its node will not open
  uint64_t openCostMs = 0;   // what an attempt to open takes
  uint64_t readCostMs = 0;   // what a read of the receive buffer takes
  // Pulled out of USB halfway through the hex text of this block (from 1).
  std::optional<int> unplugInBlock;
  bool writesFail = false;  // it takes no more data: every write fails, as after a stall
  // The n-th close of the open port (from 1) gives up waiting for the printer to take the
  // end of the data; 0 for none.
  int loseDataAtClose = 0;
  int closes = 0;
  // Other printers on the bus, listed before this one; their nodes never open here.
  std::vector<app::PrinterInfo> others;
  std::string node = "/dev/usb/lp0";     // this printer's node; it may change as it restarts
  std::vector<std::string> openedPaths;  // every node an open was tried on

  // What arrived.
  std::vector<std::string> lines;  // command lines without CR LF
  std::string image;
  std::vector<BlockSeen> blocks;
  int discoveries = 0;
  int opens = 0;

 private:
  void Feed(char c);
  void HandleLine(const std::string& line);
  void Restart();

  VirtualClock& clock_;
  bool open_ = false;
  bool lastCloseLost_ = false;
  bool openedSinceClose_ = false;
  std::deque<std::pair<uint64_t, std::string>> replies_;
  std::string pending_;
  enum class State { kCommand, kImage, kHex } state_ = State::kCommand;
  size_t left_ = 0;
  uint64_t backAtMs_ = 0;
  bool greetOnOpen_ = false;
  bool restarted_ = false;
  app::OpenFailure lastFailure_;
};

}  // namespace apptest
