// The simulator's end of the usblp model (usblp_state.h): the shared state file with one
// slot per printer node, and per printer the bus that takes the host's chunks at the
// printer's pace, holds them back where a NAK fault says so, and notices each close with
// the bytes it dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/descriptor.h"
#include "tools/vrq-printer-sim/faults.h"
#include "tools/vrq-printer-sim/usblp_state.h"

namespace sim {

// USB full speed: 19 bulk packets of 64 bytes in each 1 ms frame.
inline constexpr int64_t kFullSpeedRate = 19 * 64 * 1000;

// The shared files in a folder of their own (the state and the bell), mapped for the
// simulator's lifetime.
class UsblpShared {
 public:
  // Creates folder and the files in it, readable and writable by every user that can
  // reach the folder (a command run as another user needs them too).
  explicit UsblpShared(const std::string& folder);
  ~UsblpShared();
  UsblpShared(const UsblpShared&) = delete;
  UsblpShared& operator=(const UsblpShared&) = delete;

  bool IsValid() const { return state_ != nullptr; }
  const std::string& Error() const { return error_; }
  const std::string& Folder() const { return folder_; }

  // The slot of /dev/usb/lpN, null for a number out of range.
  vrq_usblp_node* Node(int lp);
  // A new node at lp, behind the terminal ptyName: a fresh byte stream that nobody holds.
  // Descriptors of the node that was there before find it gone.
  void MakeNode(int lp, const std::string& ptyName);
  void RemoveNode(int lp);

  // The bell's read end: readable when a chunk has been submitted. Empty it after a wake.
  int BellFd() const { return bell_.Get(); }
  void EmptyBell();

 private:
  std::string folder_;
  std::string error_;
  vrq_usblp_state* state_ = nullptr;
  platform::Descriptor bell_;
  platform::Descriptor bellKeeper_;  // a writer, so that the read end never reports a hang-up
  uint32_t lastNode_ = 0;
};

// What a chunk finishes in the dialogue, as the printer sees it when the chunk arrives.
struct ChunkFacts {
  bool imageEnd = false;   // the firmware image's last byte is in it
  int blockEnd = 0;        // the last byte of this block (counted over the run) is in it
  bool afterLink = false;  // the first chunk since "LINK"
};

struct ChunkInfo {
  int number = 0;            // counted from 1 over the printer's run
  uint32_t length = 0;       // bytes still to take of it
  uint64_t submittedNs = 0;  // when the host submitted it (CLOCK_MONOTONIC)
};

struct CloseReport {
  uint64_t lost = 0;             // bytes submitted that the printer never took
  uint64_t closedNs = 0;         // when the host closed (CLOCK_MONOTONIC)
  uint64_t lastSubmittedNs = 0;  // when the host submitted its last chunk
};

// The printer at the bus's far end.
class BusPrinter {
 public:
  virtual ~BusPrinter() = default;
  virtual ChunkFacts ChunkBegins(const ChunkInfo& chunk) = 0;
  // The most bytes the printer takes now: 0 once it has stopped taking data.
  virtual size_t TakeLimit() = 0;
  virtual void Take(const uint8_t* data, size_t size, int64_t nowMs) = 0;
  // A chunk waits, but the printer answers NAK: it is busy, not left without data.
  virtual void Holding(int64_t nowMs) = 0;
  virtual void HostClosed(const CloseReport& report, int64_t nowMs) = 0;
};

struct BusSettings {
  int64_t rate = kFullSpeedRate;  // bytes per second
  std::vector<Fault> naks;        // the nak faults that apply to this printer
};

class UsblpBus {
 public:
  explicit UsblpBus(BusSettings settings);

  // The printer's node now, or none (it has gone away: whatever was open on it ends
  // without a close).
  void Attach(vrq_usblp_node* node);
  void Detach();

  // Plays the bus up to nowUs (steady clock): ends a session that was closed or whose
  // holder has died, and takes what the printer's pace allows.
  void Serve(int64_t nowUs, BusPrinter& printer);
  // The next moment Serve has something to do, no later than limitUs.
  int64_t NextDueUs(int64_t limitUs) const;
  // The host's processes have ended: a session whose holder is gone ends now.
  void Finish(int64_t nowUs, BusPrinter& printer);

  // Someone holds the node open through the model.
  bool SessionOpen() const { return following_; }
  uint64_t BytesTaken() const { return bytesTaken_; }
  int Chunks() const { return chunks_; }

 private:
  bool FollowSession(uint64_t progress, int64_t nowUs, BusPrinter& printer);
  bool OwnerGone(int64_t nowUs);
  void BeginChunk(uint64_t taken, int64_t nowUs, BusPrinter& printer);
  int64_t NakMs(const ChunkInfo& chunk, const ChunkFacts& facts) const;

  BusSettings settings_;
  vrq_usblp_node* node_ = nullptr;
  bool following_ = false;
  uint32_t session_ = 0;
  uint64_t takenMine_ = 0;  // where the stream stood after the last take
  bool chunkActive_ = false;
  uint64_t chunkStart_ = 0;
  uint64_t chunkEnd_ = 0;
  int64_t holdUntilUs_ = 0;
  int64_t paceFromUs_ = 0;
  double credit_ = 0;            // bytes the pace allows and the printer has not taken yet
  bool printerStopped_ = false;  // the printer takes nothing at all now
  int64_t lastServeUs_ = 0;
  int64_t nextOwnerLookUs_ = 0;
  int chunks_ = 0;
  uint64_t bytesTaken_ = 0;
};

// Whether pid is a live process (a zombie is not).
bool ProcessAlive(int pid);

}  // namespace sim
