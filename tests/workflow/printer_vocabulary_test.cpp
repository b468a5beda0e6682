// The printer's wire vocabulary: command lines as the printer parses them, hex text,
// sums and the trimming of replies.
#include "workflow/printer_vocabulary.h"

#include <gtest/gtest.h>

#include <vector>

namespace apptest {
namespace {

using namespace app;

TEST(PrinterVocabularyTest, CommandLines) {
  EXPECT_EQ(CkidCommand(), "CKID\r\n");
  EXPECT_EQ(LinkCommand(), "LINK\r\n");
  EXPECT_EQ(BuzzerCommand(Buzzer::kSectionStart), "BUZZER TP=1\r\n");
  EXPECT_EQ(BuzzerCommand(Buzzer::kUpdateDone), "BUZZER TP=2\r\n");
  EXPECT_EQ(BuzzerCommand(Buzzer::kNoLinkReply), "BUZZER TP=3\r\n");
  EXPECT_EQ(LedCommand(Led::kNoMacAddress), "LED TP=6\r\n");
  EXPECT_EQ(DfCommand(3, 6), "DF 0 536870912 3 6\r\n");
  EXPECT_EQ(DfCommand(0, 0), "DF 0 536870912 0 0\r\n");
  EXPECT_EQ(SetitCommand(3, 1048576, 402848, 51234567, -2),
            "SETIT TP=3,ADD=1048576,LEN=402848,CK=51234567,MD=-2\r\n");
  // The firmware item's lines go out as stored; a missing second line is a bare CR LF.
  EXPECT_EQ(FirmwareItemCommand("CONNECT \nGO", 0), "CONNECT \r\n");
  EXPECT_EQ(FirmwareItemCommand("CONNECT\r\n", 1), "\r\n");
}

TEST(PrinterVocabularyTest, HexPairsAndLineBreaks) {
  const uint8_t three[] = {0x00, 0xAB, 0xFF};
  EXPECT_EQ(BytesToHexText(three, 3, 2), "00AB\r\nFF");
  EXPECT_EQ(BytesToHexText(three, 2, 2), "00AB\r\n");
  EXPECT_EQ(BytesToHexText(three, 0, 32), "");
  EXPECT_EQ(BytesToHexText(three, 3, 0), "00ABFF");
  EXPECT_EQ(ByteSum(three, 3), 426);
}

TEST(PrinterVocabularyTest, LengthOfABlockAtThirtyTwoBytesPerLine) {
  for (int32_t n : {1, 31, 32, 33, 64, 1000, 131072}) {
    std::vector<uint8_t> block(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
      block[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    const std::string text = BytesToHexText(block.data(), n, kHexBytesPerLine);
    ASSERT_EQ(text.size(), static_cast<size_t>(2 * n + 2 * (n / 32))) << n;
    EXPECT_EQ(text.substr(0, 2), "00");
    if (n >= 33) {
      EXPECT_EQ(text.substr(64, 4), "\r\n20");
    }
  }
}

TEST(PrinterVocabularyTest, RepliesAreTrimmedAndLinesComplete) {
  EXPECT_EQ(TrimReply("\r\n Connect Success! \r\n\x01"), "Connect Success!");
  EXPECT_EQ(TrimReply("\r\n"), "");
  EXPECT_TRUE(HasCompleteLine("OK\r\n"));
  EXPECT_TRUE(HasCompleteLine("OK\r\nmore"));
  EXPECT_FALSE(HasCompleteLine("\r\nOK\r\n"));
  EXPECT_FALSE(HasCompleteLine("OK\r"));
}

}  // namespace
}  // namespace apptest
