// How long the printer dialogue of an update takes at the least. The pacing is fixed:
// every piece of at most 1,024 characters of a block's hex text is followed by a 10 ms
// Delay, which lasts two ticks of the 10 ms timer, and the dialogue sleeps for fixed
// times around the printer's restart and the MAC check. What the printer itself takes
// (its restart, the writing of each block) comes on top and is not counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workflow/printer_vocabulary.h"
#include "workflow/run_record.h"

namespace app {

// Characters of the hex text of a block of this many bytes: two digits a byte and a
// line break after every 32nd byte.
int64_t HexTextChars(int64_t bytes);
// Pieces the hex text of a block of this many bytes goes out in.
int64_t PiecesOfBlock(int64_t bytes);

// The flash sections of a package and what they cost.
class FlashPlan {
 public:
  struct Section {
    std::string type;
    int64_t size = 0;
    int64_t blockSize = 0;
    int64_t pieces = 0;  // of all its blocks
  };

  // The items that are written as sections, in package order; other items are skipped.
  explicit FlashPlan(const std::vector<ItemSize>& items);

  const std::vector<Section>& Sections() const { return sections_; }
  int64_t Pieces() const { return pieces_; }
  // The whole dialogue after the firmware image: the firmware's start, the sleeps
  // before "CKID" and "LINK", every piece of every section.
  uint64_t TotalMs() const;
  // Pieces of the run written once section index has sent sentChars characters of the
  // block at offset (offset is a multiple of the section's block size).
  int64_t PiecesDone(size_t index, int64_t offset, int64_t sentChars) const;

 private:
  std::vector<Section> sections_;
  int64_t pieces_ = 0;
};

}  // namespace app
