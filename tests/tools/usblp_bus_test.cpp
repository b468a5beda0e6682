// The simulator's end of the usblp model on a virtual clock: the host's side is played
// on a node slot in memory the way the preload library plays it.
#include "tools/vrq-printer-sim/usblp_bus.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using sim::UsblpBus;

// The host as the preload library acts on a node.
class Host {
 public:
  explicit Host(vrq_usblp_node& node) : node_(node) {
    std::memset(&node_, 0, sizeof node_);
    node_.node = 1;
    node_.progress = vrq_usblp_progress(0, 0, 1);
  }

  void Open(int owner = getpid()) {
    node_.owner = owner;
    session_ = ++node_.sessions;
    node_.progress = vrq_usblp_progress(session_, node_.submitted, 0);
  }

  void Submit(const std::string& bytes) {
    std::memcpy(node_.chunk, bytes.data(), bytes.size());
    node_.chunk_start = node_.submitted;
    node_.chunk_length = static_cast<uint32_t>(bytes.size());
    node_.submitted += bytes.size();
  }

  void Close() {
    node_.closed_ns = 1;
    node_.progress |= VRQ_USBLP_CLOSED;
    node_.owner = 0;
  }

  bool Complete() const { return vrq_usblp_taken(node_.progress) >= node_.submitted; }

 private:
  vrq_usblp_node& node_;
  uint32_t session_ = 0;
};

// The printer: takes what it is given (up to a limit, like one that stops halfway through
// a block), and says what each chunk finishes.
class Printer : public sim::BusPrinter {
 public:
  sim::ChunkFacts ChunkBegins(const sim::ChunkInfo& chunk) override {
    chunks.push_back(chunk);
    return facts;
  }
  size_t TakeLimit() override { return limit; }
  void Take(const uint8_t* data, size_t size, int64_t nowMs) override {
    taken.append(reinterpret_cast<const char*>(data), size);
    lastTakeMs = nowMs;
    if (limit != SIZE_MAX) limit -= size;  // as far as the point where it stops
  }
  void Holding(int64_t) override { ++holds; }
  void HostClosed(const sim::CloseReport& report, int64_t) override { closes.push_back(report); }

  sim::ChunkFacts facts;
  size_t limit = SIZE_MAX;
  std::string taken;
  int64_t lastTakeMs = -1;
  int holds = 0;
  std::vector<sim::ChunkInfo> chunks;
  std::vector<sim::CloseReport> closes;
};

std::string Bytes(size_t size, char first = 'a') {
  std::string text;
  for (size_t i = 0; i < size; ++i)
    text += static_cast<char>(first + i % 23);
  return text;
}

sim::Fault Nak(int64_t ms, sim::NakAt at, int number = 0) {
  sim::Fault fault;
  fault.kind = sim::FaultKind::kNak;
  fault.ms = ms;
  fault.nakAt = at;
  fault.block = number;
  return fault;
}

class BusTest : public testing::Test {
 protected:
  void Start(sim::BusSettings settings = {}) {
    bus_ = std::make_unique<UsblpBus>(settings);
    bus_->Attach(&node_);
  }

  // Serves the bus every millisecond from now_ for ms milliseconds.
  void Run(int64_t ms) {
    for (int64_t end = now_ + ms * 1000; now_ < end; now_ += 1000)
      bus_->Serve(now_, printer_);
    bus_->Serve(now_, printer_);
  }

  vrq_usblp_node node_{};
  Host host_{node_};
  Printer printer_;
  std::unique_ptr<UsblpBus> bus_;
  int64_t now_ = 1000000;
};

TEST_F(BusTest, AChunkIsTakenInOrderAtFullSpeedAndThenCounts) {
  Start();
  host_.Open();
  std::string chunk = Bytes(VRQ_USBLP_CHUNK);
  host_.Submit(chunk);
  Run(3);
  // 19 packets of 64 bytes per 1 ms frame: a few frames in, the chunk is still in flight.
  EXPECT_GE(printer_.taken.size(), 2u * 1216);
  EXPECT_LE(printer_.taken.size(), 3u * 1216);
  EXPECT_FALSE(host_.Complete());
  Run(5);
  EXPECT_TRUE(host_.Complete());
  EXPECT_EQ(printer_.taken, chunk);
  ASSERT_EQ(printer_.chunks.size(), 1u);
  EXPECT_EQ(printer_.chunks[0].number, 1);
  EXPECT_EQ(printer_.chunks[0].length, static_cast<uint32_t>(VRQ_USBLP_CHUNK));

  host_.Submit("LINK\r\n");
  Run(2);
  EXPECT_EQ(printer_.taken.substr(VRQ_USBLP_CHUNK), "LINK\r\n");
  EXPECT_EQ(bus_->Chunks(), 2);
  EXPECT_EQ(bus_->BytesTaken(), VRQ_USBLP_CHUNK + 6u);
}

TEST_F(BusTest, ACloseDropsExactlyWhatThePrinterHadNotTaken) {
  sim::BusSettings slow;
  slow.rate = 100000;  // 100 bytes per millisecond
  Start(slow);
  host_.Open();
  bus_->Serve(now_, printer_);
  host_.Submit(Bytes(3000));
  Run(10);
  size_t taken = printer_.taken.size();
  ASSERT_GT(taken, 0u);
  ASSERT_LT(taken, 3000u);
  host_.Close();
  Run(50);
  EXPECT_EQ(printer_.taken.size(), taken);  // nothing more after the close
  ASSERT_EQ(printer_.closes.size(), 1u);
  EXPECT_EQ(printer_.closes[0].lost, 3000u - taken);
  EXPECT_FALSE(bus_->SessionOpen());

  // The next open starts with nothing in flight and loses nothing when all was taken.
  host_.Open();
  host_.Submit("CONNECT\r\n");
  Run(5);
  host_.Close();
  Run(1);
  ASSERT_EQ(printer_.closes.size(), 2u);
  EXPECT_EQ(printer_.closes[1].lost, 0u);
  EXPECT_EQ(printer_.taken.substr(taken), "CONNECT\r\n");
}

TEST_F(BusTest, ANakHoldsTheChunkItNamesForItsTime) {
  sim::BusSettings settings;
  settings.naks = {Nak(50, sim::NakAt::kChunk, 2)};
  Start(settings);
  host_.Open();
  host_.Submit("first\r\n");
  Run(2);
  EXPECT_EQ(printer_.taken, "first\r\n");
  host_.Submit("second\r\n");
  Run(45);
  EXPECT_EQ(printer_.taken, "first\r\n");
  EXPECT_GT(printer_.holds, 40);  // the printer was busy, not starved
  EXPECT_GE(bus_->NextDueUs(now_ + 1000000), now_);
  Run(10);
  EXPECT_EQ(printer_.taken, "first\r\nsecond\r\n");
}

TEST_F(BusTest, NaksFollowTheFactsOfTheChunk) {
  sim::BusSettings settings;
  settings.naks = {Nak(30, sim::NakAt::kImageEnd), Nak(20, sim::NakAt::kBlockEnd, 4),
                   Nak(10, sim::NakAt::kAfterLink)};
  Start(settings);
  host_.Open();
  auto heldFor = [&](sim::ChunkFacts facts) {
    printer_.facts = facts;
    printer_.taken.clear();
    host_.Submit("x");
    int ms = 0;
    while (printer_.taken.empty() && ms < 100) {
      Run(1);
      ++ms;
    }
    return ms;
  };
  EXPECT_LE(heldFor({}), 2);
  sim::ChunkFacts image;
  image.imageEnd = true;
  EXPECT_GE(heldFor(image), 30);
  sim::ChunkFacts block3;
  block3.blockEnd = 3;
  EXPECT_LE(heldFor(block3), 2);
  sim::ChunkFacts block4;
  block4.blockEnd = 4;
  EXPECT_GE(heldFor(block4), 20);
  sim::ChunkFacts link;
  link.afterLink = true;
  EXPECT_GE(heldFor(link), 10);
}

TEST_F(BusTest, APrinterThatTakesNothingLeavesTheChunkInFlight) {
  Start();
  host_.Open();
  printer_.limit = 0;
  host_.Submit("abc");
  Run(20);
  EXPECT_TRUE(printer_.taken.empty());
  EXPECT_FALSE(host_.Complete());
  printer_.limit = 2;  // up to the point where it stops
  Run(2);
  EXPECT_EQ(printer_.taken, "ab");
  EXPECT_FALSE(host_.Complete());
}

TEST_F(BusTest, AHolderThatEndedWithoutACloseReleasesTheNode) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(sim::ProcessAlive(child));
  EXPECT_TRUE(sim::ProcessAlive(getpid()));

  Start();
  host_.Open(child);
  bus_->Serve(now_, printer_);
  host_.Submit(Bytes(5000));
  printer_.limit = 0;
  Run(150);  // the holder is looked at every 100 ms
  ASSERT_EQ(printer_.closes.size(), 1u);
  EXPECT_EQ(printer_.closes[0].lost, 5000u);
  EXPECT_EQ(node_.owner, 0);
  EXPECT_NE(node_.progress & VRQ_USBLP_CLOSED, 0u);
}

TEST_F(BusTest, ANewHolderOfAnAbandonedNodeEndsTheOldSession) {
  Start();
  host_.Open();
  bus_->Serve(now_, printer_);
  host_.Submit(Bytes(100));
  host_.Open();  // taken over before the printer took anything
  host_.Submit("CONNECT\r\n");
  Run(3);
  ASSERT_EQ(printer_.closes.size(), 1u);
  EXPECT_EQ(printer_.closes[0].lost, 100u);
  EXPECT_EQ(printer_.taken, "CONNECT\r\n");
}

TEST_F(BusTest, ANodeThatWentAwayEndsItsSessionWithoutAClose) {
  Start();
  host_.Open();
  host_.Submit(Bytes(500));
  bus_->Serve(now_, printer_);
  bus_->Detach();
  Run(10);
  EXPECT_TRUE(printer_.closes.empty());
  EXPECT_FALSE(bus_->SessionOpen());
}

}  // namespace
