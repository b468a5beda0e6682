#include "workflow/section_transfer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file.h"

namespace app {
namespace {

constexpr size_t kPieceSize = pacing::kPieceChars;

int Percent(int64_t part, int64_t whole) {
  if (whole <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(100, part * 100 / whole));
}

struct Block {
  int64_t offset;
  const uint8_t* data;
  int64_t length;
  int64_t sectionSize;
};

struct BlockVerdict {
  bool acknowledged = false;
  // A write of the block failed: the printer had gone from USB, or had taken nothing
  // for so long that the port gave up on it.
  bool writeFailed = false;
  bool printerGone = false;
};

// The SETIT data phase. The pump gathers replies while the hex text goes out, so that a
// printer that objects early stops the sending; the verdict is the reply awaited after.
// A failed write is looked into at once, while what the bus shows is still the cause.
BlockVerdict SendBlock(PrinterSession& session, RunProgress& progress, const SectionItem& item,
                       const Block& block, int32_t mode) {
  const std::string hex =
      BytesToHexText(block.data, static_cast<int32_t>(block.length), kHexBytesPerLine);
  const int64_t sum = ByteSum(block.data, static_cast<size_t>(block.length));
  BlockVerdict verdict;
  {
    auto gather = session.GatherReplies();
    session.Write(SetitCommand(item.section.code, block.offset, block.length, sum, mode));
    session.NoteData(std::string(item.section.type) + " block: offset " +
                     std::to_string(block.offset) + ", " + std::to_string(block.length) +
                     " bytes, sum " + std::to_string(sum) + ", " + std::to_string(hex.size()) +
                     " characters of hex text");
    for (size_t sent = 0; sent < hex.size();) {
      const size_t piece = std::min(static_cast<size_t>(kPieceSize), hex.size() - sent);
      const int32_t written = session.Write(hex.data() + sent, static_cast<int32_t>(piece));
      if (written < 0) {
        verdict.writeFailed = true;
        verdict.printerGone = !session.PrinterAttached();
        break;
      }
      if (written > 0) {
        sent += static_cast<size_t>(written);
        progress.Section(item.planIndex, block.offset, static_cast<int64_t>(sent),
                         Percent(block.offset + static_cast<int64_t>(sent / 2), block.sectionSize));
      }
      session.Delay(pacing::kPieceDelayMs);
      const std::string& early = session.ReplyText();
      if (HasCompleteLine(early) && early != reply::kOkLine) break;
    }
  }
  verdict.acknowledged = TrimReply(session.WaitForReply(false, wait::kBlockReplyMs)) == reply::kOk;
  return verdict;
}

std::string NotAcknowledged(const SectionItem& item, int64_t offset, const BlockVerdict& verdict) {
  const std::string block = std::string(item.section.type) + " block at " + std::to_string(offset);
  if (verdict.printerGone) {
    return "the printer was disconnected from USB while the " + block +
           " was being sent; connect it again and run the update again";
  }
  if (verdict.writeFailed) return "the printer stopped taking data during the " + block;
  return block + " not acknowledged";
}

}  // namespace

StepResult WriteSection(PrinterSession& session, MainWindowUi& ui, RunProgress& progress,
                        const SectionItem& item, int32_t mode) {
  const FlashSection& section = item.section;
  const std::string& itemName = item.itemName;
  platform::File file = platform::File::Open(item.path, platform::File::Mode::kRead);
  const int64_t size = file.IsOpen() ? file.Size() : -1;
  if (size < 0) {
    return StepResult::Failed("can not open " + std::string(section.type) + " file " + itemName +
                              ": " + std::strerror(file.LastError()));
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(section.blockSize));
  session.Write(BuzzerCommand(Buzzer::kSectionStart));
  for (int64_t offset = 0; offset < size;) {
    progress.Section(item.planIndex, offset, 0, Percent(offset, size));
    ui.Refresh();
    ui.PumpMessages();
    const int64_t want = std::min(size - offset, section.blockSize);
    const int64_t got = file.Read(buffer.data(), static_cast<size_t>(want));
    // A file that cannot be read on, or shrank, must not turn into empty blocks sent
    // over and over.
    if (got <= 0) {
      return StepResult::Failed("can not read " + std::string(section.type) + " file " + itemName);
    }
    const BlockVerdict verdict =
        SendBlock(session, progress, item, {offset, buffer.data(), got, size}, mode);
    if (!verdict.acknowledged) return StepResult::Failed(NotAcknowledged(item, offset, verdict));
    offset += got;
  }
  ui.Refresh();
  return StepResult::Done();
}

}  // namespace app
