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
#include "tools/vrq-printer-sim/usblp_bus.h"

namespace sim {

struct PrinterSetup {
  PrinterRecord record;       // as first plugged in; lp changes as it comes back
  std::vector<Fault> faults;  // the faults that apply to this printer
  int restartMs = 1500;       // how long it is away after its image
  int flashMs = 50;
  bool verbose = false;
  std::string logName;  // put before its events in the log; empty for a lone printer
  // The shared state of the usblp model, null to deliver every byte the host writes at
  // once; and the printer's pace.
  UsblpShared* usblp = nullptr;
  int64_t rate = kFullSpeedRate;
};

// What became of the host's data, for the run's summary.
struct PrinterSummary {
  struct Loss {
    uint64_t bytes = 0;
    std::string after;         // the last command line before them, empty for none
    double closedAfterMs = 0;  // from the submission of the last chunk to the close
  };
  bool modelled = false;  // the host wrote through the usblp model
  uint64_t bytesTaken = 0;
  std::vector<Loss> losses;
  bool firmwareStarted = false;
  // From the submission of the image's last chunk, and from the printer taking its last
  // byte, to the host's close that followed; negative when unknown (or never taken).
  double imageSubmittedToCloseMs = -1;
  double imageTakenToCloseMs = -1;
};

class SimulatedPrinter : private BusPrinter {
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
  // Plays the bus between the host and the printer up to nowUs: the data the printer takes
  // at its pace, and the host's closes.
  void ServeBus(int64_t nowUs);
  // The host has ended: a node it still held is released as its end released it.
  void FinishBus(int64_t nowUs) { bus_.Finish(nowUs, *this); }
  // Lets time pass: the dialogue's own timing, the answers that are due, the printer
  // leaving and coming back.
  void Advance(int64_t nowMs);
  // The earliest moment something is due, no later than limitMs (the bus's in
  // microseconds).
  int64_t NextDueMs(int64_t limitMs) const;
  int64_t NextBusDueUs(int64_t limitUs) const { return bus_.NextDueUs(limitUs); }

  const PrinterSummary& Summary() const { return summary_; }

  // Goes away at once, as if switched off, and comes back after awayMs on the lowest
  // free node, its dialogue starting over (its flash keeps what it has).
  void Restart(int64_t nowMs, int awayMs);
  // True once after the printer has left the bus to start its firmware image.
  bool TakeImageRestart() { return std::exchange(imageRestart_, false); }

 private:
  // BusPrinter
  ChunkFacts ChunkBegins(const ChunkInfo& chunk) override;
  size_t TakeLimit() override { return dialogue_->TakeLimit(); }
  void Take(const uint8_t* data, size_t size, int64_t nowMs) override;
  void Holding(int64_t nowMs) override { dialogue_->KeepAlive(nowMs); }
  void HostClosed(const CloseReport& report, int64_t nowMs) override;

  void Deliver(const uint8_t* data, size_t size, int64_t nowMs);
  void AttachNode();
  void DetachNode();
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
  UsblpBus bus_;
  PrinterSummary summary_;
  bool saidStopped_ = false;    // "printer stopped taking data" said for this dialogue
  bool afterLinkSeen_ = false;  // a chunk has begun since this dialogue's "LINK"
  bool saidUnmodelled_ = false;
  uint64_t imageTailNs_ = 0;  // submission of the image's last chunk, 0 for none

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
