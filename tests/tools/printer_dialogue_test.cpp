// The simulated printer's side of the dialogue on a virtual clock.
#include "tools/vrq-printer-sim/printer_dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/tools/dialogue_host.h"

namespace {

using namespace simtest;
using sim::PrinterDialogue;

class DialogueTest : public testing::Test {
 protected:
  void Start(std::vector<std::string> faults = {}) {
    sim::DialogueSettings settings;
    for (const std::string& text : faults) {
      std::string error;
      auto fault = sim::ParseFault(text, error);
      ASSERT_TRUE(fault) << error;
      settings.faults.push_back(*fault);
    }
    dialogue_ = std::make_unique<PrinterDialogue>(settings, transcript_, flash_);
  }

  // Sends text in pieces of at most piece characters, one millisecond apart.
  void Send(const std::string& text, size_t piece = 1024) {
    for (size_t at = 0; at < text.size(); at += piece) {
      size_t n = std::min(piece, text.size() - at);
      dialogue_->Feed(reinterpret_cast<const uint8_t*>(text.data() + at), n, ++now_);
    }
  }

  void Send(const std::vector<uint8_t>& bytes) {
    dialogue_->Feed(bytes.data(), bytes.size(), ++now_);
  }

  // Answers given since the last call, in order; due times go to dueTimes_.
  std::vector<std::string> Replies() {
    std::vector<std::string> texts;
    dueTimes_.clear();
    for (auto& reply : dialogue_->TakeReplies()) {
      texts.push_back(reply.bytes);
      dueTimes_.push_back(reply.dueMs);
    }
    return texts;
  }

  // The whole road up to "Please send next!", image included.
  void UpToRestart(const std::vector<uint8_t>& image = Pattern(300, 1)) {
    Send("CONNECT VRQ\r\n");
    ASSERT_EQ(Replies(), std::vector<std::string>{"Connect Success!\r\n"});
    Send("SECOND\r\n");
    Send(DfLine(image));
    Send(image);
    auto action = dialogue_->TakeDeviceAction();
    ASSERT_TRUE(action);
    EXPECT_EQ(action->change, sim::DeviceChange::kRestart);
    ASSERT_TRUE(dialogue_->AwaitsHost());
    now_ += 1500;
    dialogue_->HostConnected(now_);
    ASSERT_EQ(Replies(), std::vector<std::string>{"Please send next!\r\n"});
    EXPECT_GE(dueTimes_[0], now_);
  }

  // ... and on to the answer to CKID.
  void UpToSections(const std::vector<uint8_t>& image = Pattern(300, 1)) {
    UpToRestart(image);
    Send("CKID\r\n");
    ASSERT_EQ(Replies(), std::vector<std::string>{"OK\r\n"});
  }

  // One block of a section; returns the answers to it.
  std::vector<std::string> SendBlock(int tp, int64_t add, const std::vector<uint8_t>& bytes,
                                     const HexStyle& style = {}, size_t piece = 1024) {
    Send(SetitLine(tp, add, bytes.size(), Sum(bytes), 1));
    Send(HexText(bytes, style), piece);
    lastByteMs_ = now_;
    return Replies();
  }

  std::vector<std::string> Violations() const {
    std::vector<std::string> found;
    for (const std::string& line : transcript_.Lines()) {
      if (line.rfind(sim::kViolationPrefix, 0) == 0) found.push_back(line);
    }
    return found;
  }

  sim::Transcript transcript_;
  sim::FlashStore flash_;
  std::unique_ptr<PrinterDialogue> dialogue_;
  int64_t now_ = 0;
  int64_t lastByteMs_ = 0;
  std::vector<int64_t> dueTimes_;
};

TEST_F(DialogueTest, WholeUpdateIsAnsweredStoredAndTranscribed) {
  Start();
  std::vector<uint8_t> image = Pattern(5000, 2);
  UpToSections(image);
  std::vector<uint8_t> boot = Pattern(100, 3);
  std::vector<uint8_t> font = Pattern(BlockSize(4) + 40, 4);

  Send("BUZZER TP=1\r\n");
  // Split at every single byte, so no piece follows the lines.
  EXPECT_EQ(SendBlock(0, 0, boot, {}, 1), std::vector<std::string>{"OK\r\n"});
  EXPECT_GE(dueTimes_[0], lastByteMs_ + 50);
  Send("BUZZER TP=1\r\n");
  std::vector<uint8_t> first(font.begin(), font.begin() + BlockSize(4));
  std::vector<uint8_t> rest(font.begin() + BlockSize(4), font.end());
  EXPECT_EQ(SendBlock(4, 0, first), std::vector<std::string>{"OK\r\n"});
  EXPECT_EQ(SendBlock(4, BlockSize(4), rest, {}, 7), std::vector<std::string>{"OK\r\n"});
  Send("LINK\r\n");
  EXPECT_EQ(Replies(), std::vector<std::string>{"OK\r\n"});
  Send("BUZZER TP=2\r\n");

  EXPECT_TRUE(dialogue_->Finished());
  EXPECT_TRUE(Violations().empty()) << Violations()[0];
  EXPECT_EQ(flash_.Firmware(), image);
  ASSERT_EQ(flash_.Sections().size(), 2u);
  EXPECT_EQ(flash_.Sections().at(0), boot);
  EXPECT_EQ(flash_.Sections().at(4), font);
  std::vector<std::string> expected = {
      "CONNECT VRQ",
      "SECOND",
      DfLine(image).substr(0, DfLine(image).size() - 2),
      "CKID",
      "BUZZER TP=1",
      "SETIT TP=0,ADD=0,LEN=100,CK=" + std::to_string(Sum(boot)) + ",MD=1",
      "BUZZER TP=1",
      "SETIT TP=4,ADD=0,LEN=131072,CK=" + std::to_string(Sum(first)) + ",MD=1",
      "SETIT TP=4,ADD=131072,LEN=40,CK=" + std::to_string(Sum(rest)) + ",MD=1",
      "LINK",
      "BUZZER TP=2"};
  EXPECT_EQ(transcript_.Lines(), expected);
}

TEST_F(DialogueTest, BrokenHexTextIsRefusedWithAnErrorLine) {
  struct Case {
    const char* what;
    HexStyle style;
    size_t bytes;
  };
  const Case cases[] = {
      {"lower-case digits", {true, false, 32}, 40},
      {"LF alone after a line", {false, true, 32}, 64},
      {"line break after the 16th byte", {false, false, 16}, 64},
      {"no line breaks", {false, false, 0}, 70},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    transcript_ = sim::Transcript();
    flash_ = sim::FlashStore();
    Start();
    UpToSections();
    Send("BUZZER TP=1\r\n");
    std::vector<uint8_t> bytes = Pattern(c.bytes, 5);
    std::vector<std::string> replies = SendBlock(3, 0, bytes, c.style);
    // Text of the wrong length leaves the printer waiting for the rest, until it gives up.
    if (replies.empty()) {
      now_ += PrinterDialogue::kDataIdleMs;
      dialogue_->Tick(now_);
      replies = Replies();
    }
    EXPECT_EQ(replies, std::vector<std::string>{"ERROR\r\n"});
    EXPECT_FALSE(Violations().empty());
    EXPECT_TRUE(flash_.Sections().empty());
  }
}

TEST_F(DialogueTest, SetitFieldsAreCheckedAgainstTheBlockAndTheSection) {
  Start();
  UpToSections();
  std::vector<uint8_t> bytes = Pattern(64, 6);
  Send("BUZZER TP=1\r\n");
  Send(SetitLine(3, 0, 64, Sum(bytes) + 1, 1) + HexText(bytes));  // wrong CK
  EXPECT_EQ(Replies(), std::vector<std::string>{"ERROR\r\n"});
  EXPECT_EQ(SendBlock(3, 64, bytes), std::vector<std::string>{"ERROR\r\n"});  // short block before
  Send("BUZZER TP=1\r\n");
  EXPECT_EQ(SendBlock(3, 8, bytes), std::vector<std::string>{"ERROR\r\n"});  // ADD not 0
  Send("BUZZER TP=1\r\n");
  EXPECT_EQ(SendBlock(7, 0, bytes), std::vector<std::string>{"ERROR\r\n"});  // unknown TP
  Send("BUZZER TP=1\r\n");
  Send(SetitLine(4, 0, 64, Sum(bytes), 2) + HexText(bytes));  // MD changes
  EXPECT_EQ(Replies(), std::vector<std::string>{"ERROR\r\n"});
  Send("BUZZER TP=1\r\n");
  Send("SETIT TP=04,ADD=0,LEN=64,CK=1,MD=1\r\n");  // not as printf writes it
  EXPECT_EQ(Replies(), std::vector<std::string>{"ERROR\r\n"});
  Send("BUZZER TP=1\r\n");
  Send(SetitLine(4, 0, BlockSize(4) + 1, 0, 1));  // longer than the block size
  EXPECT_EQ(Replies().size(), 0u);                // the text is still read, then refused
  Send(HexText(std::vector<uint8_t>(BlockSize(4) + 1)));
  EXPECT_EQ(Replies(), std::vector<std::string>{"ERROR\r\n"});

  EXPECT_EQ(Violations().size(), 7u);
  EXPECT_TRUE(flash_.Sections().empty());
}

TEST_F(DialogueTest, OrderAndLineEndingBreachesAreRecorded) {
  Start();
  Send("CONNECT\n");  // LF alone
  EXPECT_EQ(Violations().size(), 1u);
  Send("CONNECT\r\n");
  Send("\r\n");  // an empty second line is fine
  std::vector<uint8_t> image = Pattern(10, 7);
  Send(DfLine(image));
  Send(image);
  ASSERT_TRUE(dialogue_->TakeDeviceAction());
  dialogue_->HostConnected(++now_);
  Replies();
  Send("BUZZER TP=1\r\n");  // CKID must come first
  Send("SETIT TP=0,ADD=0,LEN=1,CK=0,MD=0\r\n00");
  Send("BUZZER TP=2\r\n");  // before LINK
  Send("LINK\r\n");         // after the end
  EXPECT_EQ(Violations().size(), 4u);
}

TEST_F(DialogueTest, BadImageIsNotStarted) {
  Start();
  Send("CONNECT\r\nSECOND\r\n");
  std::vector<uint8_t> image = Pattern(20, 8);
  Send("DF 0 536870912 20 " + std::to_string(Sum(image) + 1) + "\r\n");
  Send(image);
  EXPECT_FALSE(dialogue_->TakeDeviceAction());
  EXPECT_EQ(Violations().size(), 1u);

  Start();
  Send("CONNECT\r\nSECOND\r\nDF 1 536870912 0 0\r\n");
  EXPECT_FALSE(dialogue_->TakeDeviceAction());

  Start();
  Send("CONNECT\r\nSECOND\r\nDF 0 536870912 2000000 0\r\n");  // more than 1 MiB
  EXPECT_FALSE(dialogue_->TakeDeviceAction());
  EXPECT_EQ(Violations().size(), 3u);
}

// A close that dropped the image's tail leaves the loader short of SIZE bytes: it never
// starts what it has, and never asks for the rest of the update, whatever comes later.
TEST_F(DialogueTest, AShortImageIsNeverStarted) {
  Start();
  std::vector<uint8_t> image = Pattern(3000, 4);
  Send("CONNECT\r\nSECOND\r\n" + DfLine(image));
  EXPECT_EQ(dialogue_->LastCommand(), DfLine(image).substr(0, DfLine(image).size() - 2));
  Send(std::vector<uint8_t>(image.begin(), image.begin() + 1000));
  EXPECT_EQ(dialogue_->ImageBytesLeft(), 2000);
  now_ += PrinterDialogue::kDataIdleMs;
  dialogue_->Tick(now_);
  EXPECT_EQ(Violations(),
            std::vector<std::string>{"VIOLATION: image stopped after 1000 of 3000 bytes"});
  EXPECT_FALSE(dialogue_->TakeDeviceAction());
  dialogue_->HostConnected(++now_);
  Send(std::vector<uint8_t>(image.begin() + 1000, image.end()));
  Send("CKID\r\n");
  EXPECT_FALSE(dialogue_->TakeDeviceAction());
  EXPECT_FALSE(dialogue_->AwaitsHost());
  Replies();
  EXPECT_TRUE(Replies().empty());
  EXPECT_FALSE(flash_.HasFirmware());

  // A printer that answers NAK is busy, not starved: its loader waits.
  Start();
  Send("CONNECT\r\nSECOND\r\n" + DfLine(image));
  Send(std::vector<uint8_t>(image.begin(), image.end() - 1));
  now_ += PrinterDialogue::kDataIdleMs - 1;
  dialogue_->KeepAlive(now_);
  now_ += PrinterDialogue::kDataIdleMs - 1;
  dialogue_->Tick(now_);
  Send(std::vector<uint8_t>(image.end() - 1, image.end()));
  EXPECT_TRUE(dialogue_->TakeDeviceAction());
  EXPECT_EQ(dialogue_->ImageCompletedMs(), now_);
}

// What the bus asks to tell its chunks apart.
TEST_F(DialogueTest, TellsWhereTheImageTheBlockAndLinkStand) {
  Start({"stall-block:2"});
  UpToSections();
  EXPECT_EQ(dialogue_->ImageBytesLeft(), -1);
  Send("BUZZER TP=1\r\n");
  std::vector<uint8_t> bytes = Pattern(64, 3);
  EXPECT_EQ(SendBlock(4, 0, bytes).size(), 1u);
  EXPECT_EQ(dialogue_->BlockCharsLeft(), -1);
  Send(SetitLine(4, 64, 64, Sum(bytes), 1));
  EXPECT_EQ(dialogue_->BlockInRun(), 2);
  std::string text = HexText(bytes);
  EXPECT_EQ(dialogue_->BlockCharsLeft(), static_cast<int64_t>(text.size()));
  // It stops halfway: it takes no more than that, then nothing.
  EXPECT_EQ(dialogue_->TakeLimit(), (text.size() + 1) / 2);
  Send(text.substr(0, 10));
  EXPECT_EQ(dialogue_->TakeLimit(), (text.size() + 1) / 2 - 10);
  Send(text.substr(10, (text.size() + 1) / 2 - 10));
  EXPECT_EQ(dialogue_->TakeLimit(), 0u);

  Start();
  UpToSections();
  EXPECT_EQ(dialogue_->TakeLimit(), SIZE_MAX);
  EXPECT_FALSE(dialogue_->LinkReceived());
  Send("LINK\r\n");
  EXPECT_TRUE(dialogue_->LinkReceived());
  EXPECT_EQ(dialogue_->LastCommand(), "LINK");
}

TEST_F(DialogueTest, ConnectAndRestartFaults) {
  Start({"no-connect-reply"});
  Send("CONNECT\r\n");
  EXPECT_TRUE(Replies().empty());

  Start({"no-send-next"});
  Send("CONNECT\r\nSECOND\r\n" + DfLine({}));
  ASSERT_TRUE(dialogue_->TakeDeviceAction());
  Replies();
  dialogue_->HostConnected(++now_);
  EXPECT_TRUE(Replies().empty());

  Start({"garbage"});
  Send("CONNECT\r\n");
  std::vector<std::string> replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_NE(replies[0], "Connect Success!\r\n");
  EXPECT_EQ(replies[0].substr(replies[0].size() - 2), "\r\n");
}

TEST_F(DialogueTest, MacAndLinkFaults) {
  Start({"no-mac"});
  UpToRestart();
  Send("CKID\r\n");
  EXPECT_EQ(Replies(), std::vector<std::string>{"ERROR\r\n"});
  Send("LED TP=6\r\n");
  EXPECT_TRUE(dialogue_->Finished());
  EXPECT_TRUE(Violations().empty());

  Start({"no-link-reply"});
  UpToSections();
  Send("LINK\r\n");
  EXPECT_TRUE(Replies().empty());
  Send("BUZZER TP=3\r\n");
  EXPECT_TRUE(dialogue_->Finished());
  EXPECT_TRUE(Violations().empty());
}

TEST_F(DialogueTest, BlockFaultsHitTheBlockTheyName) {
  std::vector<uint8_t> bytes = Pattern(BlockSize(4), 9);
  Start({"block-error:2"});
  UpToSections();
  Send("BUZZER TP=1\r\n");
  EXPECT_EQ(SendBlock(4, 0, bytes), std::vector<std::string>{"OK\r\n"});
  EXPECT_EQ(SendBlock(4, BlockSize(4), {1, 2}), std::vector<std::string>{"ERROR\r\n"});
  EXPECT_EQ(flash_.Sections().at(4).size(), bytes.size());  // the refused block is not kept
  EXPECT_TRUE(Violations().empty());

  Start({"block-silent:font:1"});
  UpToSections();
  Send("BUZZER TP=1\r\n");
  EXPECT_EQ(SendBlock(0, 0, {1}), std::vector<std::string>{"OK\r\n"});
  Send("BUZZER TP=1\r\n");
  EXPECT_TRUE(SendBlock(4, 0, {1}).empty());

  Start({"unplug-block:1"});
  UpToSections();
  Send("BUZZER TP=1\r\n");
  Send(SetitLine(3, 0, 64, Sum(bytes), 1));
  std::string text = HexText(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 64));
  Send(text.substr(0, text.size() / 2 - 1));
  EXPECT_FALSE(dialogue_->TakeDeviceAction());
  Send(text.substr(text.size() / 2 - 1));
  auto action = dialogue_->TakeDeviceAction();
  ASSERT_TRUE(action);
  EXPECT_EQ(action->change, sim::DeviceChange::kUnplug);
  EXPECT_TRUE(Replies().empty());

  // A stalled printer stays attached, takes nothing more and never answers the block,
  // however long the host waits.
  Start({"stall-block:system:1"});
  UpToSections();
  Send("BUZZER TP=1\r\n");
  Send(SetitLine(3, 0, 64, Sum(bytes), 1));
  Send(text.substr(0, text.size() / 2 - 1));
  EXPECT_TRUE(dialogue_->TakesData());
  Send(text.substr(text.size() / 2 - 1));
  EXPECT_FALSE(dialogue_->TakesData());
  now_ += 10 * PrinterDialogue::kDataIdleMs;
  dialogue_->Tick(now_);
  Send("LINK\r\n");
  EXPECT_FALSE(dialogue_->TakeDeviceAction());
  EXPECT_TRUE(Replies().empty());
  EXPECT_TRUE(Violations().empty());
}

TEST(SimFaults, NamesAndBlockNumbersAreParsedStrictly) {
  std::string error;
  auto fault = sim::ParseFault("block-silent:system:3", error);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->kind, sim::FaultKind::kBlockSilent);
  EXPECT_EQ(fault->section, 3);
  EXPECT_EQ(fault->block, 3);
  fault = sim::ParseFault("restart-with:1-1.4@1-1.5", error);
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->kind, sim::FaultKind::kRestartWith);
  EXPECT_EQ(fault->name, "1-1.4");
  EXPECT_EQ(fault->printer, "1-1.5");
  fault = sim::ParseFault("restart-at:0", error);
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->ms, 0);
  EXPECT_EQ(fault->printer, "");
  fault = sim::ParseFault("bound-to:none@1-1.4", error);
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->name, "");  // no driver at all
  ASSERT_EQ(sim::FaultsFor({*fault}, "1-1.5").size(), 0u);
  ASSERT_EQ(sim::FaultsFor({*fault}, "1-1.4").size(), 1u);

  fault = sim::ParseFault("nak:50@last@1-1.5", error);
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->kind, sim::FaultKind::kNak);
  EXPECT_EQ(fault->ms, 50);
  EXPECT_EQ(fault->nakAt, sim::NakAt::kImageEnd);
  EXPECT_EQ(fault->printer, "1-1.5");
  fault = sim::ParseFault("nak:20@3", error);  // chunk 3, not a port called "3"
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->nakAt, sim::NakAt::kChunk);
  EXPECT_EQ(fault->block, 3);
  EXPECT_EQ(fault->printer, "");
  fault = sim::ParseFault("nak:20@block-last:4", error);
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->nakAt, sim::NakAt::kBlockEnd);
  EXPECT_EQ(fault->block, 4);
  fault = sim::ParseFault("nak:1@after-link@1-1.4", error);
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->nakAt, sim::NakAt::kAfterLink);
  EXPECT_EQ(fault->printer, "1-1.4");
  fault = sim::ParseFault("claimed:ipp-usb@1-1.4", error);
  ASSERT_TRUE(fault) << error;
  EXPECT_EQ(fault->kind, sim::FaultKind::kClaimed);
  EXPECT_EQ(fault->name, "ipp-usb");

  for (const char* bad : {"block-error",
                          "block-error:0",
                          "block-error:x",
                          "no-mac:1",
                          "block-error:flash:1",
                          "unplug",
                          "",
                          "restart-at",
                          "restart-at:-5",
                          "restart-with:lp0",
                          "bound-to:Usb Fs",
                          "no-mac@",
                          "no-mac@lp1",
                          "block-error:2@1-1.4:1.0",
                          "nak",
                          "nak:50",
                          "nak:@last",
                          "nak:50@",
                          "nak:50@first",
                          "nak:50@0",
                          "nak:50@block-last:",
                          "nak:x@1",
                          "nak:50@last@lp0",
                          "claimed",
                          "claimed:",
                          "claimed:../bin/sh",
                          "claimed:a-name-of-twenty-chars"}) {
    EXPECT_FALSE(sim::ParseFault(bad, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
