// One simulated printer on the bed: its dialogue, the answers waiting to be due, and its
// comings and goings on the device tree (the restart after the firmware image, a pull
// during a block, a restart at any moment), with the bytes between its node's master
// end and the dialogue. The simulator polls the masters; this class does the rest.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/vrq-printer-sim/faults.h"
#include "tools/vrq-printer-sim/flash_store.h"
#include "tools/vrq-printer-sim/printer_bed.h"
#include "tools/vrq-printer-sim/printer_dialogue.h"
#include "tools/vrq-printer-sim/transcript.h"

namespace sim {

struct PrinterSetup {
  PrinterRecord record;       // as first plugged in; lp changes as it comes back
  std::vector<Fault> faults;  // the faults that apply to this printer
  int restartMs = 1500;       // how long it is away after its image
  int flashMs = 50;
  bool verbose = false;
  std::string logName;  // put before its events in the log; empty for a lone printer
};

class SimulatedPrinter {
 public:
  SimulatedPrinter(PrinterBed& bed, PrinterSetup setup);

  // Plugs the printer in for the first time.
  bool PlugIn();
  const std::string& PortPath() const { return portPath_; }
  Transcript& Log() { return transcript_; }
  const FlashStore& Flash() const { return flash_; }
  const std::vector<Fault>& Faults() const { return setup_.faults; }

  // The node's master, -1 while the printer has no node. Poll it for PollEvents() when
  // NeedsPoll(nowMs) says so.
  int MasterFd() const { return bed_.MasterFd(portPath_); }
  bool NeedsPoll(int64_t nowMs) const;
  short PollEvents() const;
  // What poll() found on the master.
  void OnPolled(short revents, int64_t nowMs);
  // Lets time pass: the dialogue's own timing, the answers that are due, the printer
  // leaving and coming back.
  void Advance(int64_t nowMs);
  // The earliest moment something is due, no later than limitMs.
  int64_t NextDueMs(int64_t limitMs) const;

  // Goes away at once, as if switched off, and comes back after awayMs on the lowest
  // free node, its dialogue starting over (its flash keeps what it has).
  void Restart(int64_t nowMs, int awayMs);
  // True once after the printer has left the bus to start its firmware image.
  bool TakeImageRestart() { return std::exchange(imageRestart_, false); }

 private:
  void ReadFromHost(int master, int64_t nowMs);
  void WriteToHost(int master);
  void TakeDialogueOutput(int64_t nowMs);
  void ApplyDeviceChanges(int64_t nowMs);
  void QueueDueReplies(int64_t nowMs);
  void Unplug();
  void NewDialogue();
  void Say(const std::string& text) const;

  PrinterBed& bed_;
  PrinterSetup setup_;
  std::string portPath_;
  Transcript transcript_;
  FlashStore flash_;
  std::unique_ptr<PrinterDialogue> dialogue_;

  bool hostConnected_ = false;
  int64_t nextHangupLookMs_ = 0;  // while nobody has the node open
  bool greetOnOpen_ = false;      // came back after its image: tell the dialogue on open
  bool imageRestart_ = false;
  int64_t unplugAtMs_ = -1;  // a restart or unplug waiting to happen
  bool unplugForGood_ = false;
  bool restartForImage_ = false;
  int awayMs_ = 0;
  int64_t replugAtMs_ = -1;
  std::deque<TimedReply> replies_;  // answers not yet due
  std::string output_;              // due answers not yet written
};

}  // namespace sim
