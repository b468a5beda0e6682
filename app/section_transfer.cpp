#include "app/section_transfer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "app/printer_vocabulary.h"
#include "platform/file.h"

namespace app {
namespace {

constexpr std::array<FlashSection, 3> kSections = {{
    {"bootloader", 0, 2097152},
    {"system", 3, 1048576},
    {"font", 4, 131072},
}};

constexpr uint32_t kBlockReplyMs = 60000;
constexpr size_t kPieceSize = 1024;

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

// The SETIT data phase. The pump gathers replies while the hex text goes out, so that a
// printer that objects early stops the sending; the verdict is the reply awaited after.
bool SendBlock(PrinterSession& session, MainWindowUi& ui, const FlashSection& section,
               const Block& block, int32_t mode) {
  const std::string hex =
      BytesToHexText(block.data, static_cast<int32_t>(block.length), kHexBytesPerLine);
  {
    auto gather = session.GatherReplies();
    session.Write(SetitCommand(section.code, block.offset, block.length,
                               ByteSum(block.data, static_cast<size_t>(block.length)), mode));
    for (size_t sent = 0; sent < hex.size();) {
      const size_t piece = std::min(kPieceSize, hex.size() - sent);
      const int32_t written = session.Write(hex.data() + sent, static_cast<int32_t>(piece));
      if (written < 0) break;
      if (written > 0) {
        sent += static_cast<size_t>(written);
        ui.SetProgress(Percent(block.offset + static_cast<int64_t>(sent / 2), block.sectionSize));
      }
      session.Delay(10);
      const std::string& early = session.ReplyText();
      if (HasCompleteLine(early) && early != reply::kOkLine) break;
    }
  }
  return TrimReply(session.WaitForReply(false, kBlockReplyMs)) == reply::kOk;
}

}  // namespace

const FlashSection* SectionFor(const std::string& type) {
  for (const FlashSection& section : kSections) {
    if (type == section.type) return &section;
  }
  return nullptr;
}

StepResult WriteSection(PrinterSession& session, MainWindowUi& ui, const std::string& path,
                        const std::string& itemName, const FlashSection& section, int32_t mode) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  const int64_t size = file.IsOpen() ? file.Size() : -1;
  if (size < 0) {
    return StepResult::Failed("can not open " + std::string(section.type) + " file " + itemName +
                              ": " + std::strerror(file.LastError()));
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(section.blockSize));
  session.Write(BuzzerCommand(Buzzer::kSectionStart));
  for (int64_t offset = 0; offset < size;) {
    ui.SetProgress(Percent(offset, size));
    ui.Refresh();
    ui.PumpMessages();
    const int64_t want = std::min(size - offset, section.blockSize);
    const int64_t got = file.Read(buffer.data(), static_cast<size_t>(want));
    // A file that cannot be read on, or shrank, must not turn into empty blocks sent
    // over and over.
    if (got <= 0) {
      return StepResult::Failed("can not read " + std::string(section.type) + " file " + itemName);
    }
    if (!SendBlock(session, ui, section, {offset, buffer.data(), got, size}, mode)) {
      return StepResult::Failed(std::string(section.type) + " block at " + std::to_string(offset) +
                                " not acknowledged");
    }
    offset += got;
  }
  ui.Refresh();
  return StepResult::Done();
}

}  // namespace app
