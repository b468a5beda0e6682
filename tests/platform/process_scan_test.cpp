// FindProcessesHolding on a /proc tree made for the test, and on the real one.
#include "platform/process_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/descriptor.h"

namespace {

namespace fs = std::filesystem;

class ProcessScanTest : public ::testing::Test {
 protected:
  ProcessScanTest() {
    std::string pattern = (fs::temp_directory_path() / "vrq-proc-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  ~ProcessScanTest() override {
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    for (const auto& entry :
         fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied)) {
      std::error_code ignored;
      fs::permissions(entry.path(), fs::perms::owner_all,
                      fs::perm_options::add | fs::perm_options::nofollow, ignored);
    }
    fs::remove_all(root_);
  }

  // A process of the fake /proc: its comm, its command line and the targets of its fds.
  fs::path Process(int pid, const std::string& comm, const std::string& cmdline,
                   const std::vector<std::string>& files) {
    fs::path folder = root_ / std::to_string(pid);
    fs::create_directories(folder / "fd");
    std::ofstream(folder / "comm") << comm << "\n";
    std::ofstream(folder / "cmdline", std::ios::binary) << cmdline;
    int fd = 3;
    for (const std::string& file : files)
      fs::create_symlink(file, folder / "fd" / std::to_string(fd++));
    return folder;
  }

  fs::path root_;
};

TEST_F(ProcessScanTest, NamesEveryProcessWithTheFileOpenInPidOrder) {
  Process(812, "ipp-usb", std::string("/usr/sbin/ipp-usb\0standalone", 28),
          {"/dev/null", "/dev/usb/lp0"});
  Process(45, "usb",
          std::string("usb://VRQ/Printer?serial=1\0"
                      "7\0",
                      30),
          {"socket:[1234]", "/dev/usb/lp0"});
  Process(46, "cupsd", "/usr/sbin/cupsd", {"/dev/usb/lp1", "/dev/usb/lp00"});
  fs::create_directories(root_ / "self" / "fd");  // not a process folder
  std::ofstream(root_ / "uptime") << "1 2\n";

  platform::HolderScan scan = platform::FindProcessesHolding("/dev/usb/lp0", root_.string());
  ASSERT_EQ(scan.holders.size(), 2u);
  EXPECT_EQ(scan.holders[0].pid, 45);
  EXPECT_EQ(scan.holders[0].command, "usb");
  EXPECT_EQ(scan.holders[0].argv0, "usb://VRQ/Printer?serial=1");
  EXPECT_EQ(scan.holders[1].pid, 812);
  EXPECT_EQ(scan.holders[1].command, "ipp-usb");
  EXPECT_EQ(scan.holders[1].argv0, "/usr/sbin/ipp-usb");
  EXPECT_EQ(scan.unreadable, 0);

  EXPECT_TRUE(platform::FindProcessesHolding("/dev/usb/lp2", root_.string()).holders.empty());
  EXPECT_TRUE(
      platform::FindProcessesHolding("/dev/usb/lp0", (root_ / "none").string()).holders.empty());
}

// Runs check as user "nobody" when we are root (root reads every folder), else as we are.
bool AsUnprivileged(const std::function<bool()>& check) {
  if (geteuid() != 0) return check();
  const pid_t child = fork();
  if (child == 0) {
    const bool dropped = setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0;
    _exit(dropped && check() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(ProcessScanTest, CountsProcessesWhoseDescriptorsCannotBeRead) {
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  Process(7, "cupsd", "cupsd", {"/dev/usb/lp0"});
  fs::path hidden = Process(8, "usb", "usb://x", {"/dev/usb/lp0"});
  fs::permissions(hidden / "fd", fs::perms::none);
  const std::string root = root_.string();
  if (geteuid() == 0 &&
      std::system(("setpriv --reuid=65534 --regid=65534 --clear-groups -- test -r '" + root +
                   "' 2>/dev/null")
                      .c_str()) != 0) {
    GTEST_SKIP() << "user nobody cannot reach " << root << " here (a folder on its way is private)";
  }
  EXPECT_TRUE(AsUnprivileged([&] {
    platform::HolderScan scan = platform::FindProcessesHolding("/dev/usb/lp0", root);
    return scan.holders.size() == 1 && scan.holders[0].pid == 7 && scan.unreadable == 1;
  }));
}

TEST(ProcessScan, FindsThisProcessHoldingADeviceNodeByItsDeviceWhateverThePath) {
  platform::Descriptor null(open("/dev/null", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(null.IsOpen());
  std::string link = (fs::temp_directory_path() / ("vrq-null-" + std::to_string(getpid())));
  fs::remove(link);
  fs::create_symlink("/dev/null", link);
  platform::HolderScan scan = platform::FindProcessesHolding(link);
  fs::remove(link);
  bool found = false;
  for (const platform::ProcessInfo& holder : scan.holders)
    found = found || holder.pid == getpid();
  EXPECT_TRUE(found);
}

}  // namespace
