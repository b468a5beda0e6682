// libJXUsbHid.so in real processes against the emulated printer: one owner at a time,
// across processes and threads, through kills and device changes.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/descriptor.h"
#include "tests/hidlib/client_process.h"
#include "tests/hidlib/hid_emulator.h"
#include "tests/hidlib/runtime_folder.h"

namespace {

using hidtest::ClientProcess;
using Clock = std::chrono::steady_clock;

std::string H(long handle) {
  return std::to_string(handle);
}

class JXUsbHidProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(emulator_.ok()) << emulator_.error();
    ASSERT_FALSE(runtime_.path().empty());
    runtime_.Export();
  }

  void TearDown() override {
    for (const auto& client : clients_) {
      // The library never prints anything.
      EXPECT_EQ(client->Output(), "") << "client " << client->pid();
    }
  }

  ClientProcess& Start() {
    clients_.push_back(std::make_unique<ClientProcess>(HIDLIB_CLIENT));
    EXPECT_TRUE(clients_.back()->started());
    return *clients_.back();
  }

  // Opens in client and checks that the process id came back.
  long OpenIn(ClientProcess& client) {
    const long handle = client.Number("open");
    EXPECT_EQ(handle, client.pid());
    return handle;
  }

  hidtest::RuntimeFolder runtime_;
  hidtest::HidEmulator emulator_;
  std::vector<std::unique_ptr<ClientProcess>> clients_;
};

TEST_F(JXUsbHidProcessTest, ASecondProcessIsRefusedAtOnceUntilTheFirstCloses) {
  ClientProcess& first = Start();
  ClientProcess& second = Start();
  const long handle = OpenIn(first);

  const auto asked = Clock::now();
  EXPECT_EQ(second.Number("open"), 0);
  EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(250));  // no waiting for the owner
  EXPECT_EQ(first.Number("isopen " + H(handle)), 1);

  EXPECT_EQ(first.Number("close " + H(handle)), 1);
  EXPECT_EQ(first.Number("isopen " + H(handle)), 0);
  OpenIn(second);
}

TEST_F(JXUsbHidProcessTest, AKilledOwnerLeavesTheDeviceToTheNextProcess) {
  ClientProcess& owner = Start();
  ClientProcess& next = Start();
  OpenIn(owner);
  owner.Kill();
  const long handle = OpenIn(next);
  emulator_.SetCredit(64);
  EXPECT_EQ(next.Number("write " + H(handle) + " 40 0"), 40);
}

TEST_F(JXUsbHidProcessTest, AStaleOwnerRecordNamingTheNextProcessIsStillStale) {
  ClientProcess& owner = Start();
  ClientProcess& next = Start();
  ClientProcess& third = Start();
  OpenIn(owner);
  owner.Kill();
  // The next process happens to get the dead owner's id (as after a wrap of process ids).
  const platform::Descriptor fd(
      ::open((runtime_ / "JX_USBHID_MEMMAP").c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(fd.IsOpen());
  void* view = ::mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
  ASSERT_NE(view, MAP_FAILED);
  static_cast<uint32_t*>(view)[0] = static_cast<uint32_t>(next.pid());
  ::munmap(view, 8);

  OpenIn(next);
  EXPECT_EQ(third.Number("open"), 0);  // next holds the device as a first opener does
}

TEST_F(JXUsbHidProcessTest, TheOwnersSecondOpenDiscardsUnreadInputAndOneCloseReleases) {
  ClientProcess& owner = Start();
  ClientProcess& other = Start();
  const long handle = OpenIn(owner);
  emulator_.QueueInput({0xDE, 0xAD});
  EXPECT_EQ(owner.Call("read " + H(handle) + " 0"), "0 ");  // fetched into the ring, unread

  EXPECT_EQ(owner.Number("open"), handle);
  emulator_.QueueInput({0x01, 0x02, 0x03});
  EXPECT_EQ(owner.Call("read " + H(handle) + " 64"), "3 010203");

  // The second open took no lasting hold: one close gives the device away.
  EXPECT_EQ(owner.Number("close " + H(handle)), 1);
  OpenIn(other);
}

TEST_F(JXUsbHidProcessTest, AnotherThreadOfTheOwnerIsRefused) {
  ClientProcess& owner = Start();
  const long handle = OpenIn(owner);
  EXPECT_EQ(owner.Number("thread-open"), 0);
  EXPECT_EQ(owner.Number("isopen " + H(handle)), 1);
}

TEST_F(JXUsbHidProcessTest, ForeignHandlesDoNothing) {
  ClientProcess& owner = Start();
  ClientProcess& stranger = Start();
  const long handle = OpenIn(owner);
  emulator_.SetCredit(64);
  emulator_.QueueInput({0x55});
  emulator_.ClearRecord();
  for (const std::string& bad : {H(stranger.pid()), std::string("0")}) {
    SCOPED_TRACE("handle " + bad);
    EXPECT_EQ(owner.Call("read " + bad + " 64"), "0 ");
    EXPECT_EQ(owner.Number("write " + bad + " 10 0"), 0);
    EXPECT_EQ(owner.Number("isopen " + bad), 0);
    EXPECT_EQ(owner.Number("close " + bad), 0);
  }
  EXPECT_EQ(emulator_.InputFetches(), 0);
  EXPECT_TRUE(emulator_.Reports().empty());
  EXPECT_EQ(owner.Number("isopen " + H(handle)), 1);

  // A process that does not own the device closing its own handle takes nothing away
  // from the owner, whose later opens and single close still work as usual.
  EXPECT_EQ(stranger.Number("close " + H(stranger.pid())), 1);
  EXPECT_EQ(owner.Number("open"), handle);
  EXPECT_EQ(owner.Number("close " + H(handle)), 1);
  OpenIn(stranger);
}

TEST_F(JXUsbHidProcessTest, AnyHidDeviceArrivingClosesThePrinterUntilItIsOpenedAgain) {
  ClientProcess& owner = Start();
  ClientProcess& other = Start();
  const long handle = OpenIn(owner);
  ASSERT_TRUE(emulator_.AddKeyboard()) << emulator_.error();

  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (owner.Number("isopen " + H(handle)) != 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(owner.Number("isopen " + H(handle)), 0);
  EXPECT_EQ(owner.Number("write " + H(handle) + " 10 0"), 0);
  EXPECT_EQ(other.Number("open"), 0);  // the ownership stays with the owner

  EXPECT_EQ(owner.Number("open"), handle);
  EXPECT_EQ(owner.Number("isopen " + H(handle)), 1);
  emulator_.SetCredit(64);
  emulator_.ClearRecord();
  EXPECT_EQ(owner.Number("write " + H(handle) + " 33 7"), 33);
  EXPECT_EQ(emulator_.PayloadLengths(), (std::vector<int>{31, 2}));
}

class JXUsbHidWithoutPrinterTest : public ::testing::Test {
 protected:
  hidtest::RuntimeFolder runtime_;
  hidtest::HidEmulator emulator_{false};
};

TEST_F(JXUsbHidWithoutPrinterTest, AFailedSearchGivesUpTheOwnership) {
  ASSERT_TRUE(emulator_.ok()) << emulator_.error();
  runtime_.Export();
  ClientProcess first(HIDLIB_CLIENT);
  ClientProcess second(HIDLIB_CLIENT);
  EXPECT_EQ(first.Number("open"), 0);
  ASSERT_TRUE(emulator_.AddPrinter()) << emulator_.error();
  EXPECT_EQ(second.Number("open"), second.pid());
  EXPECT_EQ(first.Output() + second.Output(), "");
}

TEST_F(JXUsbHidProcessTest, WithoutTheSharedOwnerRecordOpenRefuses) {
  // A directory in the object's place: it can be neither opened nor created.
  const std::string path = runtime_ / "JX_USBHID_MEMMAP";
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  ClientProcess& client = Start();
  EXPECT_EQ(client.Number("open"), 0);
  client.Kill();
  ::rmdir(path.c_str());
  OpenIn(Start());
}

TEST_F(JXUsbHidProcessTest, ProcessesStartingTogetherShareOneOwnerMutex) {
  std::vector<ClientProcess*> racers;
  for (int i = 0; i < 6; ++i)
    racers.push_back(&Start());
  for (ClientProcess* client : racers)
    client->Send("open");
  ClientProcess* owner = nullptr;
  for (ClientProcess* client : racers) {
    const std::string answer = client->Answer();
    if (answer == "0") continue;
    EXPECT_EQ(answer, std::to_string(client->pid()));
    EXPECT_EQ(owner, nullptr) << "two owners";
    owner = client;
  }
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(owner->Number("close " + H(owner->pid())), 1);
  ClientProcess* next = owner == racers[0] ? racers[1] : racers[0];
  OpenIn(*next);
}

}  // namespace
