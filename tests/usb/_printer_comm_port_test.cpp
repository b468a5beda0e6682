// TUsbPrinter against a plain pty standing in for the printer node: what the test
// writes to the master arrives at the port's reader, what the port writes comes out of
// the master. Closing the master is pulling the printer out; not reading it is a printer
// that has stopped taking data.
//
// The port's own waits run on a virtual clock, so their lengths are checked exactly;
// only the arrival of bytes through the pty takes real time.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/descriptor.h"
#include "tests/tools/dialogue_host.h"
#include "usb/_printer_comm.h"

namespace usb {
namespace {

using simtest::Pattern;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Virtual time for the thread that made the clock, which plays the GUI thread: its sleeps
// move the time on at once. Other threads (the port's reader) really sleep, so that they
// pace themselves as in production, and leave the time alone.
class VirtualClock final : public platform::Clock {
 public:
  uint64_t NowMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override {
    if (std::this_thread::get_id() == owner_) {
      now_ += ms;
    } else {
      std::this_thread::sleep_for(milliseconds(ms));
    }
  }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
  std::atomic<uint64_t> now_{1000};
};

class PtyPrinter {
 public:
  PtyPrinter() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    master_.Reset(master);
    platform::Descriptor slaveEnd(slave);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    path_ = name;
  }

  const std::string& Path() const { return path_; }
  int MasterFd() const { return master_.Get(); }
  void Unplug() { master_.Reset(); }
  // Fills the node's buffers from the host's side until they take nothing more: a
  // printer that has stopped taking data. The pty passes bytes on in the background, so
  // it counts as full only once it has taken nothing for a while.
  void FillUp() {
    platform::Descriptor host(open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(host.IsOpen());
    std::vector<char> chunk(4096, 'F');
    for (int quiet = 0; quiet < 5;) {
      bool took = false;
      while (write(host.Get(), chunk.data(), chunk.size()) > 0)
        took = true;
      quiet = took ? 0 : quiet + 1;
      std::this_thread::sleep_for(milliseconds(20));
    }
  }
  // Takes (and drops) whatever the host has written so far.
  size_t Drain() {
    size_t taken = 0;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(master_.Get(), buffer, sizeof buffer)) > 0)
      taken += static_cast<size_t>(n);
    return taken;
  }

  // Sends bytes to the host; returns how many the pty took without blocking.
  size_t Send(const std::vector<uint8_t>& data, size_t from = 0) {
    size_t sent = from;
    while (sent < data.size()) {
      ssize_t n = write(master_.Get(), data.data() + sent, data.size() - sent);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    return sent - from;
  }

  // Everything the host wrote, waiting up to timeout for at least want bytes.
  std::string Receive(size_t want, milliseconds timeout = milliseconds(1000)) {
    std::string got;
    auto end = Clock::now() + timeout;
    while (got.size() < want && Clock::now() < end) {
      pollfd entry{master_.Get(), POLLIN, 0};
      if (poll(&entry, 1, 10) <= 0) continue;
      char buffer[4096];
      ssize_t n = read(master_.Get(), buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  platform::Descriptor master_;
  std::string path_;
};

// Reads from the port until want bytes came or timeout passed.
std::vector<uint8_t> ReadAll(TUsbPrinter& port, size_t want, milliseconds timeout,
                             int chunk = 1024) {
  std::vector<uint8_t> got;
  std::vector<uint8_t> buffer(chunk);
  auto end = Clock::now() + timeout;
  while (got.size() < want && Clock::now() < end) {
    int n = port.Read(buffer.data(), chunk);
    if (n < 0) break;
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    if (n == 0) std::this_thread::sleep_for(milliseconds(5));
  }
  return got;
}

bool WaitForReceived(TUsbPrinter& port, uint32_t total, milliseconds timeout) {
  auto end = Clock::now() + timeout;
  while (port.BytesReceived() < total && Clock::now() < end) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  return port.BytesReceived() >= total;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr)
      ++count;
    closedir(dir);
  }
  return count;
}

void ExpectClosed(const TUsbPrinter& port) {
  EXPECT_FALSE(port.Opened());
  EXPECT_FALSE(port.Running());
  EXPECT_FALSE(port.Thread());
  EXPECT_FALSE(port.WriteHandle().IsOpen());
  EXPECT_FALSE(port.ReadHandle().IsOpen());
}

// A port on its own virtual clock, and a pty printer for it.
class PrinterPort : public testing::Test {
 protected:
  PtyPrinter printer;
  VirtualClock clock;
  TUsbPrinter port{clock};
};

TEST_F(PrinterPort, ReadTakesOnlyWhatIsBufferedAndKeepsTheRestInOrder) {
  ASSERT_TRUE(port.Open(printer.Path()));
  EXPECT_TRUE(port.Opened());
  EXPECT_TRUE(port.Running());
  const uint64_t opened = clock.NowMs();

  // Nothing buffered: 0 at once, not after a wait for the device. The fastest of a few
  // calls counts, so that a busy machine's scheduling does not.
  uint8_t buffer[64];
  auto fastest = Clock::duration::max();
  for (int i = 0; i < 5; ++i) {
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
    fastest = std::min(fastest, Clock::now() - start);
  }
  EXPECT_LT(fastest, milliseconds(2));
  EXPECT_EQ(clock.NowMs(), opened) << "Read never waits";

  printer.Send({'O', 'K', '\r', '\n', 'N', 'E', 'X', 'T'});
  ASSERT_TRUE(WaitForReceived(port, 8, milliseconds(1000)));
  ASSERT_EQ(port.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "OK\r\n");
  ASSERT_EQ(port.Read(buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "NEXT");
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);

  EXPECT_EQ(port.Write("CKID\r\n", 6), 6);
  EXPECT_EQ(printer.Receive(6), "CKID\r\n");
  EXPECT_EQ(port.BytesWritten(), 6u);
  EXPECT_TRUE(port.Close());
  ExpectClosed(port);
}

TEST_F(PrinterPort, BytesStoredAcrossTheEndOfTheStorageComeOutInOrder) {
  ASSERT_TRUE(port.Open(printer.Path()));
  // Twice round the 32,768-byte storage, taken in uneven pieces while it arrives.
  std::vector<uint8_t> data = Pattern(70000, 7);
  std::vector<uint8_t> got;
  size_t sent = 0;
  auto end = Clock::now() + std::chrono::seconds(20);
  uint8_t buffer[1000];
  while (got.size() < data.size() && Clock::now() < end) {
    sent += printer.Send(data, sent);
    int n = port.Read(buffer, 777);
    ASSERT_GE(n, 0);
    got.insert(got.end(), buffer, buffer + n);
    if (n == 0) std::this_thread::sleep_for(milliseconds(2));
  }
  ASSERT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
  EXPECT_EQ(port.BytesReceived(), data.size());
}

TEST_F(PrinterPort, ReaderStopsAtTheFillLimitUntilBytesAreTaken) {
  ASSERT_TRUE(port.Open(printer.Path()));
  std::vector<uint8_t> data = Pattern(40000, 3);
  size_t sent = 0;
  auto end = Clock::now() + std::chrono::seconds(20);
  while (port.BytesReceived() < TUsbPrinterThread::kFillLimit && Clock::now() < end) {
    sent += printer.Send(data, sent);
    std::this_thread::sleep_for(milliseconds(5));
  }
  ASSERT_EQ(port.BytesReceived(), TUsbPrinterThread::kFillLimit);
  sent += printer.Send(data, sent);
  ASSERT_GT(sent, static_cast<size_t>(TUsbPrinterThread::kFillLimit))
      << "the pty should hold bytes the reader has not asked for";
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(port.BytesReceived(), TUsbPrinterThread::kFillLimit);

  // Taking 100 bytes makes room for exactly 100 more.
  uint8_t buffer[100];
  ASSERT_EQ(port.Read(buffer, sizeof buffer), 100);
  ASSERT_TRUE(WaitForReceived(port, TUsbPrinterThread::kFillLimit + 100, milliseconds(1000)));
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(port.BytesReceived(), TUsbPrinterThread::kFillLimit + 100);

  std::vector<uint8_t> got(buffer, buffer + 100);
  while (got.size() < data.size() && Clock::now() < end) {
    sent += printer.Send(data, sent);
    std::vector<uint8_t> more = ReadAll(port, 1, milliseconds(50), 4096);
    got.insert(got.end(), more.begin(), more.end());
  }
  EXPECT_TRUE(got == data);
}

TEST_F(PrinterPort, OpenAndCloseTakeTheirSettleTimesExactly) {
  uint64_t start = clock.NowMs();
  ASSERT_TRUE(port.Open(printer.Path()));
  EXPECT_EQ(clock.NowMs() - start, 300u) << "200 ms to settle, one 100 ms look at the reader";

  start = clock.NowMs();
  EXPECT_TRUE(port.Open("/dev/usb/no-such-printer"));
  EXPECT_EQ(clock.NowMs(), start) << "an open port answers at once";
  EXPECT_EQ(port.Write("LINK\r\n", 6), 6) << "and stays on its device";
  EXPECT_EQ(printer.Receive(6), "LINK\r\n");

  start = clock.NowMs();
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(clock.NowMs() - start, 400u) << "200 ms, 100 ms for the reader to stop, 100 ms";
  ExpectClosed(port);
  start = clock.NowMs();
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(clock.NowMs(), start) << "no reader: none of the stop waits";
  ExpectClosed(port);
  EXPECT_EQ(port.Write("x", 1), -1);
}

TEST_F(PrinterPort, NodeThatDoesNotOpenFailsAtOnceAndSaysWhy) {
  int before = OpenDescriptors();
  uint64_t start = clock.NowMs();
  auto realStart = Clock::now();
  EXPECT_FALSE(port.Open("/dev/usb/no-such-printer"));
  EXPECT_EQ(clock.NowMs(), start) << "no settle time for a printer that is not there";
  EXPECT_LT(Clock::now() - realStart, milliseconds(100));
  EXPECT_EQ(port.LastOpenProblem(), OpenProblem::kCannotOpenNode);
  EXPECT_EQ(port.LastOpenError(), ENOENT);
  ExpectClosed(port);
  EXPECT_EQ(OpenDescriptors(), before);
  uint8_t buffer[8];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), -1);

  EXPECT_FALSE(port.Open("/dev"));  // a node that exists but cannot be written
  EXPECT_EQ(port.LastOpenError(), EISDIR);

  ASSERT_TRUE(port.Open(printer.Path()));
  EXPECT_EQ(port.LastOpenProblem(), OpenProblem::kNone);
  EXPECT_EQ(port.LastOpenError(), 0);
}

TEST_F(PrinterPort, WriteToAPrinterThatStopsTakingDataFailsAfterTheStallLimit) {
  printer.FillUp();
  ASSERT_TRUE(port.Open(printer.Path()));
  std::vector<uint64_t> hookTimes;
  port.SetOnWriteWait([&] { hookTimes.push_back(clock.NowMs()); });

  std::vector<uint8_t> block = Pattern(1 << 20, 7);
  uint64_t start = clock.NowMs();
  auto realStart = Clock::now();
  EXPECT_EQ(port.Write(block.data(), static_cast<int>(block.size())), -1);
  EXPECT_EQ(clock.NowMs() - start, TUsbPrinter::kWriteStallLimitMs);
  EXPECT_LT(Clock::now() - realStart, std::chrono::seconds(10));

  EXPECT_EQ(port.BytesWritten(), 0u);

  // The window could repaint all along: first at once, then never 10 ms apart or more.
  ASSERT_FALSE(hookTimes.empty());
  EXPECT_EQ(hookTimes.front(), start);
  for (size_t i = 1; i < hookTimes.size(); ++i)
    ASSERT_LE(hookTimes[i] - hookTimes[i - 1], TUsbPrinter::kWriteWaitHookMs);

  EXPECT_TRUE(port.Opened()) << "the port stays open; the channel closes it on -1";
}

// The node stands for usblp here: a full pty reports no POLLOUT, as usblp does while its
// last chunk is still on its way to the printer.
bool HungUp(int master) {
  pollfd entry{master, POLLIN, 0};
  return poll(&entry, 1, 0) > 0 && (entry.revents & POLLHUP) != 0;
}

TEST_F(PrinterPort, CloseWaitsUntilThePrinterHasTakenTheEndOfTheData) {
  ASSERT_TRUE(port.Open(printer.Path()));
  ASSERT_EQ(port.Write("DF 0 536870912 3 6\r\n", 21), 21);
  printer.FillUp();  // the end of the image is still on its way

  // While the close waits, the node stays open; then the printer takes it all.
  int waits = 0;
  bool closedEarly = false;
  port.SetOnWriteWait([&] {
    closedEarly = closedEarly || HungUp(printer.MasterFd());
    if (++waits >= 50) printer.Drain();
  });
  const uint64_t start = clock.NowMs();
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(closedEarly) << "the node closed before the printer took the data";
  EXPECT_GE(waits, 50);
  EXPECT_GE(clock.NowMs() - start, 490u + 400u) << "the wait, then the reader's stop";
  EXPECT_FALSE(port.LastCloseLostData());
  ExpectClosed(port);
  printer.Drain();
  EXPECT_TRUE(HungUp(printer.MasterFd())) << "closed once the data was taken";
}

TEST_F(PrinterPort, CloseGivesUpOnAPrinterThatNeverTakesTheEndOfTheData) {
  ASSERT_TRUE(port.Open(printer.Path()));
  ASSERT_EQ(port.Write("BUZZER TP=2\r\n", 13), 13);
  const uint64_t written = clock.NowMs();
  printer.FillUp();
  clock.SleepMs(5000);  // a reply wait in between counts against the limit too

  bool closedEarly = false;
  port.SetOnWriteWait([&] { closedEarly = closedEarly || HungUp(printer.MasterFd()); });
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(closedEarly);
  EXPECT_TRUE(port.LastCloseLostData());
  EXPECT_EQ(clock.NowMs() - written, TUsbPrinter::kWriteStallLimitMs + 400u);
  ExpectClosed(port);

  // After a write that stalled, the close does not wait a second time.
  printer.Drain();
  ASSERT_TRUE(port.Open(printer.Path()));
  std::vector<uint8_t> block = Pattern(1 << 20, 3);
  EXPECT_EQ(port.Write(block.data(), static_cast<int>(block.size())), -1);
  EXPECT_GT(port.BytesWritten(), 13u) << "the pty took a part before it was full";
  const uint64_t start = clock.NowMs();
  port.Close();
  EXPECT_EQ(clock.NowMs() - start, 400u);
  EXPECT_TRUE(port.LastCloseLostData());
}

TEST_F(PrinterPort, CloseOfAGonePrinterDoesNotWait) {
  ASSERT_TRUE(port.Open(printer.Path()));
  ASSERT_EQ(port.Write("LED TP=6\r\n", 10), 10);
  printer.FillUp();
  printer.Unplug();
  const uint64_t start = clock.NowMs();
  EXPECT_TRUE(port.Close());
  EXPECT_EQ(clock.NowMs() - start, 400u);
  EXPECT_FALSE(port.LastCloseLostData()) << "whether it took the end cannot be known";
  ExpectClosed(port);
}

TEST_F(PrinterPort, SlowPrinterThatKeepsTakingDataIsWaitedFor) {
  ASSERT_TRUE(port.Open(printer.Path()));
  // The printer takes what it was sent every 15 s: each pause is below the limit, the
  // whole write takes far longer.
  std::vector<uint8_t> block = Pattern(256 * 1024, 5);
  size_t received = 0;
  uint64_t lastTaken = clock.NowMs();
  port.SetOnWriteWait([&] {
    if (clock.NowMs() - lastTaken < 15000) return;
    lastTaken = clock.NowMs();
    received += printer.Drain();
    // Until the pty passes the room on to the port's side, real time must pass.
    pollfd entry{port.WriteHandle().Fd(), POLLOUT, 0};
    poll(&entry, 1, 2000);
  });
  uint64_t start = clock.NowMs();
  ASSERT_EQ(port.Write(block.data(), static_cast<int>(block.size())),
            static_cast<int>(block.size()));
  EXPECT_GT(clock.NowMs() - start, uint64_t{TUsbPrinter::kWriteStallLimitMs});
  received += printer.Drain();
  EXPECT_EQ(received, block.size());
  EXPECT_EQ(port.BytesWritten(), block.size());
}

TEST_F(PrinterPort, ReopenStartsWithAnEmptyRingAndKeepsTheTotals) {
  ASSERT_TRUE(port.Open(printer.Path()));
  printer.Send(Pattern(10, 7));
  ASSERT_TRUE(WaitForReceived(port, 10, milliseconds(1000)));
  ASSERT_EQ(port.Write("BUZZER TP=1\r\n", 13), 13);
  port.Close();
  EXPECT_EQ(port.Write("x", 1), -1);

  ASSERT_TRUE(port.Open(printer.Path()));
  uint8_t buffer[16];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(port.BytesReceived(), 10u);
  EXPECT_EQ(port.BytesWritten(), 13u);
}

TEST_F(PrinterPort, UnpluggedPrinterFailsWritesAndDoesNotMakeTheReaderSpin) {
  ASSERT_TRUE(port.Open(printer.Path()));
  printer.Unplug();
  EXPECT_EQ(port.Write("SETIT\r\n", 7), -1);

  // The descriptor now reports a hang-up on every poll: the reader must keep pausing.
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(milliseconds(300));
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  auto cpuUs = [](const rusage& r) {
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
           r.ru_stime.tv_usec;
  };
  EXPECT_LT(cpuUs(after) - cpuUs(before), 60000L) << "reader busy after the unplug";
  EXPECT_TRUE(port.Opened());  // the port notices nothing until the channel closes it
  port.Close();
  ExpectClosed(port);
}

}  // namespace
}  // namespace usb
