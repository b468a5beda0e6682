// The device layer against the emulated printer, through the real hidapi hidraw back end.
#include "hidlib/hid_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tests/hidlib/hid_emulator.h"

namespace {

using hidlib::HidDeviceAccess;
using hidtest::Report;

std::vector<uint8_t> Pattern(size_t count, uint8_t first = 1) {
  std::vector<uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

class HidDeviceTest : public ::testing::Test {
 protected:
  // A small ring keeps the arithmetic of the overflow cases short.
  static constexpr uint32_t kRingSize = 16;

  void SetUp() override {
    ASSERT_TRUE(emulator_.ok()) << emulator_.error();
    ASSERT_EQ(device_.BindHidFunctions(), 1);
    char path[hidlib::kDevicePathSize];
    ASSERT_EQ(device_.ConnectDevice(path, sizeof path), 1);
    EXPECT_STREQ(path, "/dev/hidraw0");
    emulator_.ClearRecord();
  }

  // Fills the ring to exactly used bytes through input reports.
  void FillRing(uint32_t used) {
    emulator_.QueueInput(Pattern(used, 0xA0));
    while (device_.ReceivedCount() < used)
      ASSERT_NE(device_.PollInputReport(), -1);
  }

  hidtest::HidEmulator emulator_;
  std::vector<uint8_t> ring_ = std::vector<uint8_t>(kRingSize);
  HidDeviceAccess device_{ring_.data(), kRingSize, platform::SystemClock()};
};

TEST_F(HidDeviceTest, WritesGoInReportsOfAtMost31BytesWithinEachCredit) {
  struct Case {
    uint32_t credit;
    size_t length;
    std::vector<int> reports;
    int passes;
  };
  const Case cases[] = {
      {64, 100, {31, 31, 2, 31, 5}, 2},  // 64 bytes, then the remaining 36
      {1000, 31, {31}, 1},
      {1000, 32, {31, 1}, 1},
      {1, 3, {1, 1, 1}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "credit " << c.credit << ", " << c.length << " bytes");
    emulator_.ClearRecord();
    emulator_.SetCredit(c.credit);
    const std::vector<uint8_t> data = Pattern(c.length);
    EXPECT_EQ(device_.WriteAll(data.data(), static_cast<int32_t>(data.size())),
              static_cast<int32_t>(c.length));
    EXPECT_EQ(emulator_.PayloadLengths(), c.reports);
    EXPECT_EQ(emulator_.Payload(), data);
    EXPECT_EQ(emulator_.InputFetches(), c.passes);  // one input report before every pass
    for (const Report& report : emulator_.Reports()) {
      EXPECT_EQ(report[0], 0);  // report id
      // Nothing of an earlier, longer payload is left behind the payload.
      for (size_t i = 2 + report[1]; i < report.size(); ++i)
        ASSERT_EQ(report[i], 0) << i;
    }
  }
}

TEST_F(HidDeviceTest, ZeroCreditHoldsTheWriteUntilItRises) {
  emulator_.SetCredit(0);
  const std::vector<uint8_t> data = Pattern(40);
  std::atomic<int32_t> result{-2};
  std::thread writer([&] { result = device_.WriteAll(data.data(), 40); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(result.load(), -2);
  EXPECT_TRUE(emulator_.Reports().empty());
  EXPECT_GE(emulator_.InputFetches(), 5);  // it keeps asking every 10 ms
  emulator_.SetCredit(64);
  writer.join();
  EXPECT_EQ(result.load(), 40);
  EXPECT_EQ(emulator_.Payload(), data);
}

TEST_F(HidDeviceTest, ACreditWithTheTopBitSetGrantsNothing) {
  Report report{};
  report[2] = 0x40;
  report[5] = 0x80;  // 0x80000040
  emulator_.QueueRawReport(report);
  const std::vector<uint8_t> data = Pattern(10);
  EXPECT_EQ(device_.SendUSBData(data.data(), 10), 0);
  EXPECT_TRUE(emulator_.Reports().empty());
}

TEST_F(HidDeviceTest, InputBeyondTheRingsRoomIsDropped) {
  FillRing(kRingSize - 4);
  emulator_.QueueInput(Pattern(10, 1));
  ASSERT_NE(device_.PollInputReport(), -1);
  EXPECT_EQ(device_.ReceivedCount(), kRingSize);
  EXPECT_EQ(emulator_.QueuedInput(), 0u);  // the other 6 bytes are gone

  uint8_t buffer[64] = {};
  ASSERT_EQ(device_.ReadAvailable(buffer, sizeof buffer), static_cast<int32_t>(kRingSize));
  const std::vector<uint8_t> kept(buffer + kRingSize - 4, buffer + kRingSize);
  EXPECT_EQ(kept, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(HidDeviceTest, AReportCarriesAtMost59DataBytes) {
  Report report{};
  report[1] = 200;  // names more than a report holds
  for (size_t i = 6; i < report.size(); ++i)
    report[i] = static_cast<uint8_t>(i);
  emulator_.QueueRawReport(report);
  std::vector<uint8_t> big(64);
  HidDeviceAccess roomy(big.data(), static_cast<uint32_t>(big.size()), platform::SystemClock());
  ASSERT_EQ(roomy.BindHidFunctions(), 1);
  ASSERT_TRUE(roomy.OpenDeviceHandle());
  ASSERT_NE(roomy.PollInputReport(), -1);
  ASSERT_EQ(roomy.ReceivedCount(), 59u);
  uint8_t buffer[64] = {};
  ASSERT_EQ(roomy.ReadAvailable(buffer, sizeof buffer), 59);
  EXPECT_EQ(buffer[0], 6);
  EXPECT_EQ(buffer[58], 64);
}

TEST_F(HidDeviceTest, EveryReadFetchesOneReportEvenForNoBytes) {
  emulator_.SetInputChunk(5);
  emulator_.QueueInput(Pattern(8));
  uint8_t buffer[16] = {};
  EXPECT_EQ(device_.ReadAvailable(buffer, 0), 0);
  EXPECT_EQ(emulator_.InputFetches(), 1);
  EXPECT_EQ(device_.ReceivedCount(), 5u);
  // Oldest first, whatever is there at the time, without waiting for more.
  EXPECT_EQ(device_.ReadAvailable(buffer, 4), 4);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), Pattern(4));
  EXPECT_EQ(device_.ReadAvailable(buffer, 16), 4);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), Pattern(4, 5));
  EXPECT_EQ(device_.ReadAvailable(buffer, -5), 0);
  EXPECT_EQ(device_.ReadAvailable(buffer, 16), 0);
  EXPECT_EQ(emulator_.InputFetches(), 5);
}

TEST_F(HidDeviceTest, FailedInputReportsStopWritesButNotBufferedReads) {
  emulator_.QueueInput(Pattern(3));
  ASSERT_NE(device_.PollInputReport(), -1);
  emulator_.SetCredit(64);
  emulator_.FailInputReports(true);
  const std::vector<uint8_t> data = Pattern(10);
  EXPECT_EQ(device_.PollInputReport(), -1);
  EXPECT_EQ(device_.WriteAll(data.data(), 10), 0);
  EXPECT_TRUE(emulator_.Reports().empty());
  uint8_t buffer[8] = {};
  EXPECT_EQ(device_.ReadAvailable(buffer, sizeof buffer), 3);
}

TEST_F(HidDeviceTest, ConnectReportsAnOpenDeviceAndCloseUnbinds) {
  char path[8];
  EXPECT_EQ(device_.ConnectDevice(path, sizeof path), 2);
  EXPECT_STREQ(path, "/dev/hi");  // cut to the buffer, terminated
  device_.CloseHidDevice();
  EXPECT_FALSE(device_.IsOpen());
  EXPECT_EQ(device_.PollInputReport(), -1);
  const uint8_t byte = 1;
  EXPECT_EQ(device_.SendUSBData(&byte, 1), -1);
  EXPECT_EQ(device_.ConnectDevice(path, sizeof path), 0);  // unbound: no search
}

TEST(HidDeviceBindTest, AMissingOrIncompleteBackEndIsNotBound) {
  std::vector<uint8_t> ring(16);
  HidDeviceAccess missing(ring.data(), 16, platform::SystemClock(),
                          "libhidapi-does-not-exist.so.0");
  EXPECT_EQ(missing.BindHidFunctions(), -1);
  // A library that loads but has none of hidapi's names.
  HidDeviceAccess incomplete(ring.data(), 16, platform::SystemClock(), "libudev.so.1");
  EXPECT_EQ(incomplete.BindHidFunctions(), -1);
  EXPECT_FALSE(incomplete.OpenDeviceHandle());
}

}  // namespace
