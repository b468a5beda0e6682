#include "tools/vrq-printer-sim/simulated_printer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

namespace sim {

namespace {

// While nobody has the node open its master reports POLLHUP at once, every time: such a
// master is looked at this often rather than on every pass.
constexpr int64_t kHangupLookMs = 5;
constexpr size_t kLongestCommandShown = 80;

BusSettings BusSettingsOf(const PrinterSetup& setup) {
  BusSettings settings;
  settings.rate = setup.rate;
  for (const Fault& fault : setup.faults) {
    if (fault.kind == FaultKind::kNak) settings.naks.push_back(fault);
  }
  return settings;
}

}  // namespace

SimulatedPrinter::SimulatedPrinter(PrinterBed& bed, PrinterSetup setup)
    : bed_(bed),
      setup_(std::move(setup)),
      portPath_(setup_.record.PortPath()),
      bus_(BusSettingsOf(setup_)) {
  if (const Fault* bound = FindFault(setup_.faults, FaultKind::kBoundTo)) {
    setup_.record.driver = bound->name;
  }
  // A program holds the interface through usbfs: usblp does not have it.
  if (HasFault(setup_.faults, FaultKind::kClaimed)) setup_.record.driver = "usbfs";
  NewDialogue();
}

void SimulatedPrinter::NewDialogue() {
  dialogue_ = std::make_unique<PrinterDialogue>(DialogueSettings{setup_.faults, setup_.flashMs},
                                                transcript_, flash_);
  saidStopped_ = false;
  afterLinkSeen_ = false;
  imageTailNs_ = 0;
}

void SimulatedPrinter::Say(const std::string& text) const {
  if (!setup_.verbose) return;
  if (setup_.logName.empty()) {
    std::fprintf(stderr, "vrq-printer-sim: %s\n", text.c_str());
  } else {
    std::fprintf(stderr, "vrq-printer-sim: %s: %s\n", setup_.logName.c_str(), text.c_str());
  }
}

bool SimulatedPrinter::PlugIn() {
  if (!bed_.Plug(setup_.record)) return false;
  AttachNode();
  return true;
}

// The model follows the node the printer has now; without its shared state every byte
// written reaches the printer at once.
void SimulatedPrinter::AttachNode() {
  const PrinterRecord& record = setup_.record;
  if (setup_.usblp == nullptr || !record.HasLpDevice() || !record.withNode) return;
  setup_.usblp->MakeNode(record.lp, bed_.PtyName(portPath_));
  bus_.Attach(setup_.usblp->Node(record.lp));
}

// The node's terminal goes first, so that a host that finds the node gone meets a dead
// terminal (EIO, POLLHUP) rather than one that still takes bytes.
void SimulatedPrinter::DetachNode() {
  // An open on the node that goes away ends without a close the printer could time.
  bus_.Detach();
  imageTailNs_ = 0;
  if (bed_.IsPlugged(portPath_)) bed_.Unplug(portPath_);
  const PrinterRecord& record = setup_.record;
  if (setup_.usblp != nullptr && record.HasLpDevice()) setup_.usblp->RemoveNode(record.lp);
}

void SimulatedPrinter::ServeBus(int64_t nowUs) {
  bus_.Serve(nowUs, *this);
  if (bus_.SessionOpen()) summary_.modelled = true;
}

ChunkFacts SimulatedPrinter::ChunkBegins(const ChunkInfo& chunk) {
  ChunkFacts facts;
  int64_t imageLeft = dialogue_->ImageBytesLeft();
  facts.imageEnd = imageLeft > 0 && imageLeft <= chunk.length;
  int64_t blockLeft = dialogue_->BlockCharsLeft();
  if (blockLeft > 0 && blockLeft <= chunk.length) facts.blockEnd = dialogue_->BlockInRun();
  facts.afterLink = dialogue_->LinkReceived() && !std::exchange(afterLinkSeen_, true);
  if (facts.imageEnd) imageTailNs_ = chunk.submittedNs;
  return facts;
}

void SimulatedPrinter::Take(const uint8_t* data, size_t size, int64_t nowMs) {
  Deliver(data, size, nowMs);
}

void SimulatedPrinter::Deliver(const uint8_t* data, size_t size, int64_t nowMs) {
  // Stamped as taken: a block's answer is timed from its last byte.
  dialogue_->Feed(data, size, nowMs);
  summary_.bytesTaken += size;
  if (!dialogue_->TakesData() && !std::exchange(saidStopped_, true)) {
    Say("printer stopped taking data");
  }
}

// usblp kills the transfer in flight at the last close: what the printer had not taken
// is gone, and the printer never learns of it.
void SimulatedPrinter::HostClosed(const CloseReport& report, int64_t /*nowMs*/) {
  if (report.lost > 0) {
    // A long line (hex text) is shortened to what it takes to recognise it.
    std::string after = dialogue_->LastCommand();
    if (after.size() > kLongestCommandShown) after = after.substr(0, kLongestCommandShown) + "...";
    double closedAfterMs = static_cast<double>(report.closedNs - report.lastSubmittedNs) / 1e6;
    transcript_.AddNote(
        "lost at close: " + std::to_string(report.lost) + " bytes " +
        (after.empty() ? std::string("before the first command") : "after " + after));
    summary_.losses.push_back({report.lost, after, closedAfterMs});
    char text[112];
    std::snprintf(text, sizeof text,
                  "host closed the printer %.1f ms after its last write: %llu bytes lost",
                  closedAfterMs, static_cast<unsigned long long>(report.lost));
    Say(text);
  }
  // A tail the printer never saw begin was the last chunk the host submitted.
  int64_t imageLeft = dialogue_->ImageBytesLeft();
  if (imageTailNs_ == 0 && imageLeft > 0 && static_cast<uint64_t>(imageLeft) <= report.lost) {
    imageTailNs_ = report.lastSubmittedNs;
  }
  if (imageTailNs_ != 0 && summary_.imageSubmittedToCloseMs < 0) {
    summary_.imageSubmittedToCloseMs = static_cast<double>(report.closedNs - imageTailNs_) / 1e6;
    if (auto taken = dialogue_->ImageCompletedMs()) {
      summary_.imageTakenToCloseMs = static_cast<double>(report.closedNs) / 1e6 - *taken;
    }
  }
}

bool SimulatedPrinter::NeedsPoll(int64_t nowMs) const {
  return MasterFd() >= 0 && (hostConnected_ || nowMs >= nextHangupLookMs_);
}

short SimulatedPrinter::PollEvents() const {
  // A printer that has stopped taking data leaves the host's bytes in the node, so that
  // the host's writes find no room; a hang-up is still reported without asking.
  short events = dialogue_->TakesData() ? POLLIN : 0;
  if (hostConnected_ && !output_.empty()) events |= POLLOUT;
  return events;
}

// The master reports POLLHUP for as long as the host has the node closed; that is how
// the printer notices the host opening it.
void SimulatedPrinter::OnPolled(short revents, int64_t nowMs) {
  int master = MasterFd();
  if (master < 0) return;
  if (revents & POLLIN) ReadFromHost(master, nowMs);
  bool connected = (revents & POLLHUP) == 0;
  if (!connected) nextHangupLookMs_ = nowMs + kHangupLookMs;
  if (connected == hostConnected_) return;
  hostConnected_ = connected;
  Say(connected ? "host opened the printer" : "host closed the printer");
  if (connected && greetOnOpen_) {
    greetOnOpen_ = false;
    dialogue_->HostConnected(nowMs);
  }
}

void SimulatedPrinter::Advance(int64_t nowMs) {
  dialogue_->Tick(nowMs);
  TakeDialogueOutput(nowMs);
  ApplyDeviceChanges(nowMs);
  QueueDueReplies(nowMs);
  int master = MasterFd();
  if (master >= 0 && hostConnected_) WriteToHost(master);
}

int64_t SimulatedPrinter::NextDueMs(int64_t limitMs) const {
  int64_t next = limitMs;
  if (hostConnected_ && !replies_.empty()) next = std::min(next, replies_.front().dueMs);
  if (unplugAtMs_ >= 0) next = std::min(next, unplugAtMs_);
  if (replugAtMs_ >= 0) next = std::min(next, replugAtMs_);
  if (!hostConnected_ && MasterFd() >= 0) next = std::min(next, nextHangupLookMs_);
  return next;
}

// Bytes through the terminal itself: from a process without the model's preload (a
// static program), or written by a call the preload does not wrap. They reach the
// printer at once, as they always did.
void SimulatedPrinter::ReadFromHost(int master, int64_t nowMs) {
  uint8_t buffer[65536];
  while (dialogue_->TakesData()) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return;  // EAGAIN: all read; EIO: the host closed the node
    if (!bus_.SessionOpen() && !std::exchange(saidUnmodelled_, true)) {
      Say("the host writes to the printer without the usblp model (a program without "
          "the simulator's preload, such as a static one): every byte reaches the printer "
          "at once");
    }
    Deliver(buffer, static_cast<size_t>(n), nowMs);
  }
}

void SimulatedPrinter::WriteToHost(int master) {
  while (!output_.empty()) {
    ssize_t n = write(master, output_.data(), output_.size());
    if (n <= 0) return;
    output_.erase(0, static_cast<size_t>(n));
  }
}

void SimulatedPrinter::TakeDialogueOutput(int64_t nowMs) {
  for (TimedReply& reply : dialogue_->TakeReplies())
    replies_.push_back(std::move(reply));
  std::stable_sort(replies_.begin(), replies_.end(),
                   [](const TimedReply& a, const TimedReply& b) { return a.dueMs < b.dueMs; });
  if (auto action = dialogue_->TakeDeviceAction()) {
    bool neverReturn = HasFault(setup_.faults, FaultKind::kNeverReturn);
    unplugAtMs_ = std::max(action->atMs, nowMs);
    restartForImage_ = action->change == DeviceChange::kRestart;
    unplugForGood_ = !restartForImage_ || neverReturn;
    awayMs_ = setup_.restartMs;
    replugAtMs_ = unplugForGood_ ? -1 : unplugAtMs_ + awayMs_;
  }
}

void SimulatedPrinter::Restart(int64_t nowMs, int awayMs) {
  if (!bed_.IsPlugged(portPath_)) return;  // away already, or gone for good
  unplugAtMs_ = nowMs;
  unplugForGood_ = false;
  restartForImage_ = false;
  awayMs_ = awayMs;
  replugAtMs_ = nowMs + awayMs;
  Unplug();
  NewDialogue();
  greetOnOpen_ = false;
  Say("printer switched off and on");
}

void SimulatedPrinter::Unplug() {
  unplugAtMs_ = -1;
  if (bed_.IsPlugged(portPath_)) DetachNode();
  replies_.clear();  // a printer that goes away takes its unsent answers with it
  output_.clear();
  hostConnected_ = false;
}

void SimulatedPrinter::ApplyDeviceChanges(int64_t nowMs) {
  if (unplugAtMs_ >= 0 && nowMs >= unplugAtMs_) {
    Unplug();
    if (restartForImage_) {
      imageRestart_ = true;
      summary_.firmwareStarted = true;
    }
    Say(unplugForGood_ ? "printer pulled out" : "printer restarting");
  }
  if (replugAtMs_ >= 0 && nowMs >= replugAtMs_) {
    replugAtMs_ = -1;
    // usblp gives a printer that comes back the lowest free node, which may be the one
    // another printer had.
    setup_.record.lp = bed_.LowestFreeLp();
    if (bed_.Plug(setup_.record)) {
      AttachNode();
      greetOnOpen_ = restartForImage_;
      nextHangupLookMs_ = nowMs;
      Say("printer back on lp" + std::to_string(setup_.record.lp));
    } else {
      std::fprintf(stderr, "vrq-printer-sim: cannot plug the printer in again: %s\n",
                   bed_.Error().c_str());
    }
  }
}

void SimulatedPrinter::QueueDueReplies(int64_t nowMs) {
  // Answers wait for the host to have the node open; a pty would keep them for a later
  // opener, a printer's endpoint would not be read at all.
  while (!replies_.empty() && replies_.front().dueMs <= nowMs && hostConnected_) {
    output_ += replies_.front().bytes;
    replies_.pop_front();
  }
}

}  // namespace sim
