// The faults the simulated printer can play, as named on its command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class FaultKind {
  kNoConnectReply,  // the connect line gets no answer
  kNeverReturn,     // after the firmware image the printer goes away for good
  kNoSendNext,      // it comes back but never says "Please send next!"
  kNoMac,           // "CKID" is answered with an error line instead of "OK"
  kBlockError,      // block K is answered with an error line
  kBlockSilent,     // block K is not answered at all
  kUnplugBlock,     // the printer is pulled out halfway through block K's data
  kStallBlock,      // the printer stops taking data halfway through block K's data
  kNoLinkReply,     // "LINK" gets no answer
  kGarbage,         // every answer is replaced by bytes that make no sense
  kRestartAt,       // the printer restarts (as if switched off and on) at a given time
  kRestartWith,     // it restarts when another printer restarts after its image
  kBoundTo,         // its printer interface is bound to another driver than usblp
  kClaimed,         // a program has claimed its printer interface through usbfs
  kNak,             // the printer takes nothing for a while when a given chunk arrives
  kNoSerial,        // the printer reports no serial number (its device has none)
};

// Which chunk a NAK fault holds back.
enum class NakAt {
  kChunk,      // the K-th chunk of the run
  kImageEnd,   // the chunk with the firmware image's last byte ("last")
  kBlockEnd,   // the chunk with the last byte of block K ("block-last:K")
  kAfterLink,  // the first chunk after "LINK" ("after-link"): the closing buzzer
};

struct Fault {
  FaultKind kind = FaultKind::kGarbage;
  int block = 0;     // block faults: the block number K, from 1; nak: the chunk or
                     // block number K
  int section = -1;  // block faults: count K within sections of this code (0, 3, 4);
                     // -1 counts over all the blocks of the run
  int64_t ms = 0;    // restart-at: milliseconds after COMMAND started; nak: how long
  NakAt nakAt = NakAt::kChunk;
  std::string name;     // restart-with: the other printer's port path; bound-to: the
                        // driver, empty for none; claimed: the claiming program's name
  std::string printer;  // the port path of the one printer it applies to; empty: all
};

// Parses one --fault argument ("no-mac", "block-error:3", "block-silent:font:2",
// "restart-at:2500@1-1.5", "bound-to:usbfs", "nak:50@last@1-1.4", "claimed:ipp-usb").
std::optional<Fault> ParseFault(const std::string& text, std::string& error);
// The faults that apply to the printer on portPath.
std::vector<Fault> FaultsFor(const std::vector<Fault>& faults, const std::string& portPath);
// The first fault of this kind, or none.
const Fault* FindFault(const std::vector<Fault>& faults, FaultKind kind);

// Does one of faults of this kind apply to the block? blockInRun and blockInSection
// count from 1.
bool BlockFault(const std::vector<Fault>& faults, FaultKind kind, int sectionCode, int blockInRun,
                int blockInSection);
bool HasFault(const std::vector<Fault>& faults, FaultKind kind);

// True when text may be a USB port path ("1-1.4"): digits, "-" and "." only.
bool IsPortPathText(const std::string& text);

// The section code of a section type name ("bootloader" 0, "system" 3, "font" 4), -1
// for other names, and back (nullptr for other codes).
int SectionCode(const std::string& type);
const char* SectionType(int code);

}  // namespace sim
