// Runs the simulated printers for COMMAND: waits on every printer node's master end (and
// on the bell that says a chunk was submitted) at once, plays the bus between host and
// printer, lets each printer deliver its answers and play its restarts when they are due,
// and sets off the restarts that one printer's restart or the clock triggers in another.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "tools/vrq-printer-sim/simulated_printer.h"

namespace sim {

class Simulator {
 public:
  // The printers are plugged in already; they must outlive the simulator. restartMs is
  // the time a printer is away after its image; usblp (null for none) is the usblp
  // model's shared state, whose bell rings when the host submits a chunk.
  Simulator(std::vector<SimulatedPrinter*> printers, int restartMs, UsblpShared* usblp);

  // Plays the printers until the child process ends; returns its wait status. Signals
  // another process sends the simulator are passed on to the child meanwhile.
  int Run(pid_t child);

 private:
  void ServeNodes(int64_t nowMs);
  void TriggerRestarts(int64_t nowMs);
  void Finish();

  std::vector<SimulatedPrinter*> printers_;
  int restartMs_;
  UsblpShared* usblp_;
  int64_t startMs_ = 0;
  std::vector<bool> timedRestartDone_;
};

}  // namespace sim
