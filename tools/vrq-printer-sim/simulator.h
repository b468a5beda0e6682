// Runs the simulated printers for COMMAND: waits on every printer node's master end at
// once, lets each printer deliver its answers and play its restarts when they are due,
// and sets off the restarts that one printer's restart or the clock triggers in another.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/vrq-printer-sim/simulated_printer.h"

namespace sim {

class Simulator {
 public:
  // The printers are plugged in already; they must outlive the simulator. restartMs is
  // the time a printer is away after its image.
  Simulator(std::vector<SimulatedPrinter*> printers, int restartMs);

  // Plays the printers until the child process ends; returns its wait status. When stop
  // becomes true the child is asked to end (SIGTERM, then SIGKILL on a second request).
  int Run(pid_t child, const std::atomic<int>& stopRequests);

 private:
  void ServeNodes(int64_t nowMs);
  void TriggerRestarts(int64_t nowMs);

  std::vector<SimulatedPrinter*> printers_;
  int restartMs_;
  int64_t startMs_ = 0;
  std::vector<bool> timedRestartDone_;
};

}  // namespace sim
