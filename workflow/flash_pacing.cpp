#include "workflow/flash_pacing.h"

#include <algorithm>

namespace app {

int64_t HexTextChars(int64_t bytes) {
  return 2 * bytes + 2 * (bytes / kHexBytesPerLine);
}

int64_t PiecesOfBlock(int64_t bytes) {
  return (HexTextChars(bytes) + pacing::kPieceChars - 1) / pacing::kPieceChars;
}

namespace {

int64_t PiecesOfSection(int64_t size, int64_t blockSize) {
  const int64_t fullBlocks = size / blockSize;
  return fullBlocks * PiecesOfBlock(blockSize) + PiecesOfBlock(size % blockSize);
}

}  // namespace

FlashPlan::FlashPlan(const std::vector<ItemSize>& items) {
  for (const ItemSize& item : items) {
    const FlashSection* section = SectionFor(item.type);
    if (section == nullptr) continue;
    const int64_t size = std::max<int64_t>(item.size, 0);
    const int64_t pieces = PiecesOfSection(size, section->blockSize);
    sections_.push_back({item.type, size, section->blockSize, pieces});
    pieces_ += pieces;
  }
}

uint64_t FlashPlan::TotalMs() const {
  return wait::kFirmwareStartMs + 2 * wait::kSettleMs +
         static_cast<uint64_t>(pieces_) * pacing::kPieceMs;
}

int64_t FlashPlan::PiecesDone(size_t index, int64_t offset, int64_t sentChars) const {
  if (index >= sections_.size()) return pieces_;
  int64_t done = 0;
  for (size_t i = 0; i < index; ++i)
    done += sections_[i].pieces;
  const Section& section = sections_[index];
  done += offset / section.blockSize * PiecesOfBlock(section.blockSize);
  done += (std::max<int64_t>(sentChars, 0) + pacing::kPieceChars - 1) / pacing::kPieceChars;
  return std::min(done, pieces_);
}

}  // namespace app
