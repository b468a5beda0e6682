// Runs the simulated printer for COMMAND: moves bytes between the printer node's master
// end and the dialogue, delivers the dialogue's answers when they are due, and plays its
// restarts and disappearances on the device tree.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "tools/vrq-printer-sim/printer_bed.h"
#include "tools/vrq-printer-sim/printer_dialogue.h"

namespace sim {

struct SimulatorSettings {
  int restartMs = 1500;
  bool neverReturn = false;
  bool verbose = false;
};

class Simulator {
 public:
  Simulator(PrinterBed& bed, PrinterRecord printer, PrinterDialogue& dialogue,
            SimulatorSettings settings);

  // Plays the printer until the child process ends; returns its wait status. When stop
  // becomes true the child is asked to end (SIGTERM, then SIGKILL on a second request).
  int Run(pid_t child, const std::atomic<int>& stopRequests);

 private:
  void ServeNode(int timeoutMs);
  void ReadFromHost(int master);
  void WriteToHost(int master);
  void TakeDialogueOutput(int64_t nowMs);
  void ApplyDeviceChanges(int64_t nowMs);
  void QueueDueReplies(int64_t nowMs);
  int TimeoutMs(int64_t nowMs) const;
  void Log(const std::string& text) const;

  PrinterBed& bed_;
  PrinterRecord printer_;
  PrinterDialogue& dialogue_;
  SimulatorSettings settings_;

  bool hostConnected_ = false;
  bool restarted_ = false;   // came back after a restart: tell the dialogue on open
  int64_t unplugAtMs_ = -1;  // a restart or unplug waiting to happen
  bool unplugForGood_ = false;
  int64_t replugAtMs_ = -1;
  std::deque<TimedReply> replies_;  // answers not yet due
  std::string output_;              // due answers not yet written
};

}  // namespace sim
