// The printer's side of the command dialogue, without any I/O: bytes from the host go in
// with the time they arrived; answers come out with the time they are due, and so do the
// printer's restarts and disappearances. Every command line goes to the transcript, and
// every breach of the dialogue goes there as a violation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/vrq-printer-sim/faults.h"
#include "tools/vrq-printer-sim/flash_store.h"
#include "tools/vrq-printer-sim/hex_block.h"
#include "tools/vrq-printer-sim/transcript.h"

namespace sim {

struct DialogueSettings {
  std::vector<Fault> faults;
  // How long the printer takes to write a block to its flash before it answers it.
  int flashMs = 50;
};

struct TimedReply {
  int64_t dueMs = 0;
  std::string bytes;
};

enum class DeviceChange {
  kRestart,  // the printer starts the image it was sent: it goes away and comes back
  kUnplug,   // the printer is pulled out and stays away
};

struct DeviceAction {
  DeviceChange change = DeviceChange::kRestart;
  int64_t atMs = 0;
};

class PrinterDialogue {
 public:
  // The largest image the printer takes, and the line length it gives up at.
  static constexpr int64_t kImageLimit = 1 << 20;
  static constexpr size_t kLineLimit = 4096;
  // After this long without a byte, a block's or the image's data counts as broken off.
  static constexpr int64_t kDataIdleMs = 1000;
  // The printer restarts this long after the image's last byte, and says
  // "Please send next!" this long after the host has opened it again.
  static constexpr int64_t kRestartDelayMs = 100;
  static constexpr int64_t kSendNextDelayMs = 100;

  PrinterDialogue(DialogueSettings settings, Transcript& transcript, FlashStore& flash);

  void Feed(const uint8_t* data, size_t size, int64_t nowMs);
  // Lets time pass: data that stops arriving in the middle of a block or the image.
  void Tick(int64_t nowMs);
  // The host has opened the printer's node after a restart.
  void HostConnected(int64_t nowMs);
  bool AwaitsHost() const { return state_ == State::kAwaitHost; }
  // The dialogue has come to its end ("BUZZER TP=2", "BUZZER TP=3" or "LED TP=6").
  bool Finished() const { return state_ == State::kDone; }
  // False once the printer has stopped taking data: the bytes the host sends stay where
  // they are, and its writes find no room.
  bool TakesData() const { return state_ != State::kStalled; }
  // The most bytes the printer takes now: none once it has stopped, and no more than
  // reach the point where a fault stops it or pulls it out.
  size_t TakeLimit() const;
  // The printer is busy (answering NAK) with data waiting: not left without data.
  void KeepAlive(int64_t nowMs) { lastByteMs_ = nowMs; }

  // Where the dialogue stands, for the bus to tell which chunk is which: the image bytes
  // still to come (-1 outside the image), the hex characters of the current block still
  // to come (-1 outside a block) and that block's number in the run, and whether "LINK"
  // has come.
  int64_t ImageBytesLeft() const;
  int64_t BlockCharsLeft() const;
  int BlockInRun() const { return blockInRun_; }
  bool LinkReceived() const { return linkSent_; }
  // The last command line received (as the transcript shows it), empty before the first.
  const std::string& LastCommand() const { return lastCommand_; }
  // When the image's last byte came (whether or not the image was good), if it has.
  std::optional<int64_t> ImageCompletedMs() const { return imageCompletedMs_; }

  std::vector<TimedReply> TakeReplies();
  std::optional<DeviceAction> TakeDeviceAction();

 private:
  enum class State {
    kConnect,     // waiting for the connect line
    kSecondLine,  // the package's second command line
    kDfLine,      // "DF 0 536870912 size sum"
    kImage,       // raw image bytes
    kAwaitHost,   // restarting, until the host opens the node again
    kAwaitCkid,   // the first command after the restart must be "CKID"
    kCommands,    // sections, blocks, "LINK", the closing buzzer
    kBlockData,   // the hex text of a block
    kRejected,    // the image was refused: the printer ignores everything
    kGone,        // unplugged
    kStalled,     // stopped taking data, for good
    kDone,        // the dialogue has ended
  };

  struct Block {
    int tp = 0;
    int64_t add = 0;
    int64_t len = 0;
    int64_t ck = 0;
    bool faulty = false;  // the SETIT line broke a rule: the block is not stored
    bool unplugHalfway = false;
    bool stallHalfway = false;
    bool answerError = false;
    bool silent = false;
    HexBlockReader reader{0};
  };

  size_t ConsumeLine(const uint8_t* data, size_t size, int64_t nowMs);
  size_t ConsumeImage(const uint8_t* data, size_t size, int64_t nowMs);
  size_t ConsumeBlock(const uint8_t* data, size_t size, int64_t nowMs);
  void AddCommand(const std::string& line);
  void OnLine(const std::string& line, int64_t nowMs);
  void OnDfLine(const std::string& line, int64_t nowMs);
  void FinishImage(int64_t nowMs);
  void OnCommand(const std::string& line, int64_t nowMs);
  void OnSetit(const std::string& line, int64_t nowMs);
  bool CheckSetit(Block& block);
  void FinishBlock(int64_t nowMs);
  void StartSection();
  void Reply(const std::string& text, int64_t dueMs);
  void Violation(const std::string& text) { transcript_.AddViolation(text); }
  bool Fault(FaultKind kind) const { return HasFault(settings_.faults, kind); }

  DialogueSettings settings_;
  Transcript& transcript_;
  FlashStore& flash_;
  State state_ = State::kConnect;
  int64_t lastByteMs_ = 0;

  std::string line_;
  bool lineTooLong_ = false;
  bool inDataOutsideBlock_ = false;

  int64_t imageSize_ = 0;
  int64_t imageSum_ = 0;
  bool imageFaulty_ = false;
  std::vector<uint8_t> image_;

  bool macAnswered_ = false;
  bool sectionOpen_ = false;
  int sectionTp_ = -1;
  int64_t nextAdd_ = 0;
  bool shortBlockSeen_ = false;
  std::optional<int64_t> mode_;
  int blockInRun_ = 0;
  int blockInSection_ = 0;
  Block block_;
  bool linkSent_ = false;
  bool linkAnswered_ = false;

  std::string lastCommand_;
  std::optional<int64_t> imageCompletedMs_;

  std::vector<TimedReply> replies_;
  std::optional<DeviceAction> deviceAction_;
  int garbageCount_ = 0;
};

// Block size of a section code (0: 2 MiB, 3: 1 MiB, 4: 128 KiB), 0 for other codes.
int64_t SectionBlockSize(int sectionCode);

}  // namespace sim
