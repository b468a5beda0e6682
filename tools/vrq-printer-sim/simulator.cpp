#include "tools/vrq-printer-sim/simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace sim {

namespace {

constexpr int kMaxWaitMs = 10;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Simulator::Simulator(PrinterBed& bed, PrinterRecord printer, PrinterDialogue& dialogue,
                     SimulatorSettings settings)
    : bed_(bed), printer_(std::move(printer)), dialogue_(dialogue), settings_(settings) {}

void Simulator::Log(const std::string& text) const {
  if (settings_.verbose) std::fprintf(stderr, "vrq-printer-sim: %s\n", text.c_str());
}

int Simulator::Run(pid_t child, const std::atomic<int>& stopRequests) {
  int signalsSent = 0;
  while (true) {
    int status = 0;
    pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child || (ended < 0 && errno == ECHILD)) return status;
    int requests = stopRequests.load();
    if (requests > signalsSent) {
      kill(child, signalsSent == 0 ? SIGTERM : SIGKILL);
      signalsSent = requests;
    }
    int64_t now = NowMs();
    ServeNode(TimeoutMs(now));
    now = NowMs();
    dialogue_.Tick(now);
    TakeDialogueOutput(now);
    ApplyDeviceChanges(now);
    QueueDueReplies(now);
    int master = bed_.MasterFd(printer_.lp);
    if (master >= 0 && hostConnected_) WriteToHost(master);
  }
}

int Simulator::TimeoutMs(int64_t nowMs) const {
  int64_t next = nowMs + kMaxWaitMs;
  if (hostConnected_ && !replies_.empty()) next = std::min(next, replies_.front().dueMs);
  if (unplugAtMs_ >= 0) next = std::min(next, unplugAtMs_);
  if (replugAtMs_ >= 0) next = std::min(next, replugAtMs_);
  return static_cast<int>(std::max<int64_t>(0, next - nowMs));
}

// One wait on the node. The master reports POLLHUP for as long as the host has the node
// closed; that is how the printer notices the host opening it.
void Simulator::ServeNode(int timeoutMs) {
  int master = bed_.MasterFd(printer_.lp);
  if (master < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return;
  }
  // A printer that has stopped taking data leaves the host's bytes in the node, so that
  // the host's writes find no room; a hang-up is still reported without asking.
  short events = dialogue_.TakesData() ? POLLIN : 0;
  if (hostConnected_ && !output_.empty()) events |= POLLOUT;
  pollfd entry{master, events, 0};
  if (poll(&entry, 1, timeoutMs) < 0) return;
  if (entry.revents & POLLIN) ReadFromHost(master);
  bool connected = (entry.revents & POLLHUP) == 0;
  if (connected != hostConnected_) {
    hostConnected_ = connected;
    Log(connected ? "host opened the printer" : "host closed the printer");
    if (connected && restarted_) {
      restarted_ = false;
      dialogue_.HostConnected(NowMs());
    }
  }
  if (!connected && !(entry.revents & POLLIN)) {
    // Nobody has the node open: POLLHUP stays set, so wait here instead of spinning.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 5)));
  }
}

void Simulator::ReadFromHost(int master) {
  uint8_t buffer[65536];
  while (dialogue_.TakesData()) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return;  // EAGAIN: all read; EIO: the host closed the node
    // Stamped as read: a block's answer is timed from its last byte.
    dialogue_.Feed(buffer, static_cast<size_t>(n), NowMs());
  }
  Log("printer stopped taking data");
}

void Simulator::WriteToHost(int master) {
  while (!output_.empty()) {
    ssize_t n = write(master, output_.data(), output_.size());
    if (n <= 0) return;
    output_.erase(0, static_cast<size_t>(n));
  }
}

void Simulator::TakeDialogueOutput(int64_t nowMs) {
  for (TimedReply& reply : dialogue_.TakeReplies())
    replies_.push_back(std::move(reply));
  std::stable_sort(replies_.begin(), replies_.end(),
                   [](const TimedReply& a, const TimedReply& b) { return a.dueMs < b.dueMs; });
  if (auto action = dialogue_.TakeDeviceAction()) {
    unplugAtMs_ = std::max(action->atMs, nowMs);
    unplugForGood_ = action->change == DeviceChange::kUnplug || settings_.neverReturn;
    replugAtMs_ = action->change == DeviceChange::kRestart && !settings_.neverReturn
                      ? unplugAtMs_ + settings_.restartMs
                      : -1;
  }
}

void Simulator::ApplyDeviceChanges(int64_t nowMs) {
  if (unplugAtMs_ >= 0 && nowMs >= unplugAtMs_) {
    unplugAtMs_ = -1;
    bed_.Unplug(printer_.lp);
    replies_.clear();  // a printer that goes away takes its unsent answers with it
    output_.clear();
    hostConnected_ = false;
    Log(unplugForGood_ ? "printer pulled out" : "printer restarting");
  }
  if (replugAtMs_ >= 0 && nowMs >= replugAtMs_) {
    replugAtMs_ = -1;
    if (bed_.Plug(printer_)) {
      restarted_ = true;
      Log("printer back");
    } else {
      std::fprintf(stderr, "vrq-printer-sim: cannot plug the printer in again: %s\n",
                   bed_.Error().c_str());
    }
  }
}

void Simulator::QueueDueReplies(int64_t nowMs) {
  // Answers wait for the host to have the node open; a pty would keep them for a later
  // opener, a printer's endpoint would not be read at all.
  while (!replies_.empty() && replies_.front().dueMs <= nowMs && hostConnected_) {
    output_ += replies_.front().bytes;
    replies_.pop_front();
  }
}

}  // namespace sim
