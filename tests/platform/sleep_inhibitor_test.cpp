// The logind lock against python-dbusmock's logind on a private bus that stands in for
// the system bus: what is asked for, that the lock lasts exactly as long as its owner,
// and what happens without a bus, without logind, on a refusal and on a bus that is stuck.
#include "platform/sleep_inhibitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/descriptor.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kWhy[] = "Updating the firmware of the printer at /dev/usb/lp0";

// A program run for the length of a test suite; stopped and reaped when it goes.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

Bus OpenSystemBus() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return nullptr;
  return Bus(bus);
}

// The mock's list of locks as "what|who|why|mode"; nullopt when logind cannot be asked.
std::optional<std::vector<std::string>> ListInhibitors() {
  Bus bus = OpenSystemBus();
  if (!bus) return std::nullopt;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* raw = nullptr;
  int r = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                             "org.freedesktop.login1.Manager", "ListInhibitors", &error, &raw, "");
  sd_bus_error_free(&error);
  const Message reply(raw);
  if (r < 0 || sd_bus_message_enter_container(reply.get(), 'a', "(ssssuu)") < 0) {
    return std::nullopt;
  }
  std::vector<std::string> locks;
  const char *what, *who, *why, *mode;
  uint32_t uid, pid;
  while (sd_bus_message_read(reply.get(), "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
    locks.push_back(std::string(what) + "|" + who + "|" + why + "|" + mode);
  }
  return locks;
}

// The mock drops a lock when it sees the descriptor's other end close, on its own time.
std::vector<std::string> InhibitorsOnceSettled(size_t expected) {
  std::optional<std::vector<std::string>> locks;
  for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(20ms)) {
    locks = ListInhibitors();
    if (locks && locks->size() == expected) break;
  }
  return locks.value_or(std::vector<std::string>{"logind cannot be asked"});
}

// Replaces the mock's Inhibit with one that runs code.
void ReplaceInhibit(const std::string& code) {
  Bus bus = OpenSystemBus();
  ASSERT_TRUE(bus);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r =
      sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.DBus.Mock", "AddMethod", &error, nullptr, "sssss",
                         "org.freedesktop.login1.Manager", "Inhibit", "ssss", "h", code.c_str());
  sd_bus_error_free(&error);
  ASSERT_GE(r, 0);
}

bool WaitFor(const std::function<bool()>& ready) {
  for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(20ms)) {
    if (ready()) return true;
  }
  return false;
}

void UseSystemBus(const std::string& socket) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
}

// Two private buses, one with the logind mock on it and one without, for the whole suite.
class SleepInhibitorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "sleep_inhibitor_XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    for (const char* name : {"logind", "empty"}) {
      buses_.push_back(std::make_unique<Child>(
          std::vector<std::string>{VRQ_DBUS_DAEMON, "--session", "--nofork", "--nopidfile",
                                   "--address=unix:path=" + Socket(name)}));
      ASSERT_TRUE(WaitFor([&] { return fs::exists(Socket(name)); })) << "no bus at " << name;
    }
    UseSystemBus(Socket("logind"));
    mock_ = std::make_unique<Child>(
        std::vector<std::string>{VRQ_PYTHON3, "-m", "dbusmock", "--template", "logind"});
    ASSERT_TRUE(WaitFor([] { return ListInhibitors().has_value(); })) << "the mock never came";
  }
  static void TearDownTestSuite() {
    mock_.reset();
    buses_.clear();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  void SetUp() override { UseSystemBus(Socket("logind")); }

  static std::string Socket(const std::string& name) { return (folder_ / name).string(); }

  static inline fs::path folder_;
  static inline std::vector<std::unique_ptr<Child>> buses_;
  static inline std::unique_ptr<Child> mock_;
};

TEST_F(SleepInhibitorTest, ABlockLockIsHeldExactlyAsLongAsItsOwner) {
  const std::string listed = std::string("sleep:shutdown:idle|vrq-update|") + kWhy + "|block";
  {
    platform::InhibitResult result = platform::InhibitSleep("vrq-update", kWhy);
    ASSERT_TRUE(result.lock.IsHeld()) << result.problem;
    EXPECT_EQ(result.problem, "");
    EXPECT_THAT(InhibitorsOnceSettled(1), ::testing::ElementsAre(listed));

    // Handed on, the lock stays; the owner it left holds nothing.
    platform::SleepInhibitor moved(std::move(result.lock));
    EXPECT_FALSE(result.lock.IsHeld());
    EXPECT_TRUE(moved.IsHeld());
    EXPECT_THAT(InhibitorsOnceSettled(1), ::testing::ElementsAre(listed));
    moved.Release();
    EXPECT_FALSE(moved.IsHeld());
    EXPECT_THAT(InhibitorsOnceSettled(0), ::testing::ElementsAre());

    result = platform::InhibitSleep("vrq-update", kWhy);
    ASSERT_TRUE(result.lock.IsHeld());
    EXPECT_THAT(InhibitorsOnceSettled(1), ::testing::SizeIs(1));
  }
  EXPECT_THAT(InhibitorsOnceSettled(0), ::testing::ElementsAre());
}

TEST_F(SleepInhibitorTest, WithoutABusOrLogindThereIsNoLockAndTheProblemSaysWhy) {
  UseSystemBus(Socket("nothing-here"));
  const auto start = std::chrono::steady_clock::now();
  platform::InhibitResult noBus = platform::InhibitSleep("vrq-update", kWhy);
  EXPECT_FALSE(noBus.lock.IsHeld());
  EXPECT_EQ(noBus.problem, "no system bus to reach logind: No such file or directory");

  UseSystemBus(Socket("empty"));
  platform::InhibitResult noLogind = platform::InhibitSleep("vrq-update", kWhy);
  EXPECT_FALSE(noLogind.lock.IsHeld());
  EXPECT_EQ(noLogind.problem,
            "logind is not running (no org.freedesktop.login1 on the system bus)");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(SleepInhibitorTest, ARefusalIsPassedOnInLogindsWords) {
  ReplaceInhibit(
      "raise dbus.exceptions.DBusException('Permission denied', "
      "name='org.freedesktop.DBus.Error.AccessDenied')");
  platform::InhibitResult refused = platform::InhibitSleep("vrq-update", kWhy);
  // Back to the template's own Inhibit for the other tests.
  Bus bus = OpenSystemBus();
  ASSERT_TRUE(bus);
  sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                     "org.freedesktop.DBus.Mock", "Reset", nullptr, nullptr, "");

  EXPECT_FALSE(refused.lock.IsHeld());
  EXPECT_EQ(refused.problem, "logind refused the lock: Permission denied");
}

TEST_F(SleepInhibitorTest, ABusThatNeverAnswersIsGivenUpOnWithinFiveSeconds) {
  // A socket that takes connections but never speaks: a stuck bus daemon.
  platform::Descriptor mute(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = Socket("mute");
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(mute.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(mute.Get(), 4), 0);
  UseSystemBus(path);

  const auto start = std::chrono::steady_clock::now();
  platform::InhibitResult stuck = platform::InhibitSleep("vrq-update", kWhy);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(stuck.lock.IsHeld());
  EXPECT_EQ(stuck.problem, "the system bus did not answer within 5 s");
  EXPECT_GE(took, 4900ms);
  EXPECT_LT(took, 7s);
}

}  // namespace
