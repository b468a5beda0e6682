#include "tools/vrq-printer-sim/simulator.h"

#include <poll.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "tools/vrq-printer-sim/signal_relay.h"

namespace sim {

namespace {

constexpr int64_t kMaxWaitMs = 10;

int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Simulator::Simulator(std::vector<SimulatedPrinter*> printers, int restartMs, UsblpShared* usblp)
    : printers_(std::move(printers)),
      restartMs_(restartMs),
      usblp_(usblp),
      timedRestartDone_(printers_.size(), false) {}

int Simulator::Run(pid_t child) {
  startMs_ = NowUs() / 1000;
  while (true) {
    int status = 0;
    pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child || (ended < 0 && errno == ECHILD)) {
      Finish();
      return status;
    }
    RelaySignals(child);
    ServeNodes(NowUs() / 1000);
    int64_t nowUs = NowUs();
    for (SimulatedPrinter* printer : printers_)
      printer->ServeBus(nowUs);
    int64_t now = nowUs / 1000;
    for (SimulatedPrinter* printer : printers_)
      printer->Advance(now);
    TriggerRestarts(now);
  }
}

// COMMAND has ended: its descriptors were closed as it went, without a close() the model
// saw. The nodes it held are released now, so that the summary counts what they dropped.
void Simulator::Finish() {
  int64_t nowUs = NowUs();
  for (SimulatedPrinter* printer : printers_)
    printer->FinishBus(nowUs);
}

// One wait on the nodes, no longer than the next thing due.
void Simulator::ServeNodes(int64_t nowMs) {
  int64_t due = nowMs + kMaxWaitMs;
  int64_t busDueUs = due * 1000;
  for (SimulatedPrinter* printer : printers_) {
    due = printer->NextDueMs(due);
    busDueUs = printer->NextBusDueUs(busDueUs);
  }
  due = std::min(due, (busDueUs + 999) / 1000);
  int timeoutMs = static_cast<int>(std::max<int64_t>(0, due - nowMs));

  std::vector<pollfd> entries;
  std::vector<SimulatedPrinter*> polled;
  for (SimulatedPrinter* printer : printers_) {
    if (!printer->NeedsPoll(nowMs)) continue;
    entries.push_back({printer->MasterFd(), printer->PollEvents(), 0});
    polled.push_back(printer);
  }
  if (usblp_ != nullptr && usblp_->BellFd() >= 0) entries.push_back({usblp_->BellFd(), POLLIN, 0});
  if (entries.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return;
  }
  if (poll(entries.data(), entries.size(), timeoutMs) < 0) return;
  if (usblp_ != nullptr && usblp_->BellFd() >= 0 && (entries.back().revents & POLLIN)) {
    usblp_->EmptyBell();
  }
  int64_t now = NowUs() / 1000;
  for (size_t i = 0; i < polled.size(); ++i)
    polled[i]->OnPolled(entries[i].revents, now);
}

void Simulator::TriggerRestarts(int64_t nowMs) {
  for (SimulatedPrinter* leader : printers_) {
    if (!leader->TakeImageRestart()) continue;
    // Followers are away for half as long, so that they come back first and may take
    // the node the leader had.
    for (SimulatedPrinter* follower : printers_) {
      const Fault* with = FindFault(follower->Faults(), FaultKind::kRestartWith);
      if (follower != leader && with != nullptr && with->name == leader->PortPath()) {
        follower->Restart(nowMs, restartMs_ / 2);
      }
    }
  }
  for (size_t i = 0; i < printers_.size(); ++i) {
    const Fault* at = FindFault(printers_[i]->Faults(), FaultKind::kRestartAt);
    if (at == nullptr || timedRestartDone_[i] || nowMs - startMs_ < at->ms) continue;
    timedRestartDone_[i] = true;
    printers_[i]->Restart(nowMs, restartMs_);
  }
}

}  // namespace sim
