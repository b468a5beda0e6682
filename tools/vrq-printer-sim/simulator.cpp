#include "tools/vrq-printer-sim/simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace sim {

namespace {

constexpr int64_t kMaxWaitMs = 10;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Simulator::Simulator(std::vector<SimulatedPrinter*> printers, int restartMs)
    : printers_(std::move(printers)),
      restartMs_(restartMs),
      timedRestartDone_(printers_.size(), false) {}

int Simulator::Run(pid_t child, const std::atomic<int>& stopRequests) {
  startMs_ = NowMs();
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
    ServeNodes(NowMs());
    int64_t now = NowMs();
    for (SimulatedPrinter* printer : printers_)
      printer->Advance(now);
    TriggerRestarts(now);
  }
}

// One wait on the nodes, no longer than the next thing due.
void Simulator::ServeNodes(int64_t nowMs) {
  int64_t due = nowMs + kMaxWaitMs;
  for (SimulatedPrinter* printer : printers_)
    due = printer->NextDueMs(due);
  int timeoutMs = static_cast<int>(std::max<int64_t>(0, due - nowMs));

  std::vector<pollfd> entries;
  std::vector<SimulatedPrinter*> polled;
  for (SimulatedPrinter* printer : printers_) {
    if (!printer->NeedsPoll(nowMs)) continue;
    entries.push_back({printer->MasterFd(), printer->PollEvents(), 0});
    polled.push_back(printer);
  }
  if (entries.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return;
  }
  if (poll(entries.data(), entries.size(), timeoutMs) < 0) return;
  int64_t now = NowMs();
  for (size_t i = 0; i < entries.size(); ++i)
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
