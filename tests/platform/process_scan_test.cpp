// FindProcessesHolding on a /proc tree made for the test, and on the real one.
#include "platform/process_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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
    // In memory where there is such a folder: a tree of 100,000 links takes half a minute
    // to make and remove on a busy disk, a second in memory.
    const fs::path base =
        access("/dev/shm", W_OK | X_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "vrq-proc-XXXXXX").string();
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

  // A process of the fake /proc: its comm, its command line, the targets of its fds and,
  // unless empty, the program file its exe link names.
  fs::path Process(int pid, const std::string& comm, const std::string& cmdline,
                   const std::vector<std::string>& files, const std::string& exe = "") {
    fs::path folder = root_ / std::to_string(pid);
    fs::create_directories(folder / "fd");
    std::ofstream(folder / "comm") << comm << "\n";
    std::ofstream(folder / "cmdline", std::ios::binary) << cmdline;
    if (!exe.empty()) fs::create_symlink(exe, folder / "exe");
    int fd = 3;
    for (const std::string& file : files)
      fs::create_symlink(file, folder / "fd" / std::to_string(fd++));
    return folder;
  }

  fs::path root_;
};

TEST_F(ProcessScanTest, NamesEveryProcessWithTheFileOpenInPidOrder) {
  Process(812, "ipp-usb", std::string("/usr/sbin/ipp-usb\0standalone", 28),
          {"/dev/null", "/dev/usb/lp0"}, "/usr/sbin/ipp-usb");
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
  EXPECT_EQ(scan.holders[0].executable, "");  // not to be read
  EXPECT_EQ(scan.holders[1].pid, 812);
  EXPECT_EQ(scan.holders[1].command, "ipp-usb");
  EXPECT_EQ(scan.holders[1].argv0, "/usr/sbin/ipp-usb");
  EXPECT_EQ(scan.holders[1].executable, "/usr/sbin/ipp-usb");
  EXPECT_EQ(scan.unreadable, 0);
  EXPECT_FALSE(scan.timedOut);

  EXPECT_TRUE(platform::FindProcessesHolding("/dev/usb/lp2", root_.string()).holders.empty());
  EXPECT_TRUE(
      platform::FindProcessesHolding("/dev/usb/lp0", (root_ / "none").string()).holders.empty());
}

TEST_F(ProcessScanTest, FollowsOnlyLinksThatNameTheNodeOrTheFileItResolvesTo) {
  // The node as a udev symlink gives it: it resolves to /dev/null.
  const std::string node = (root_ / "printer").string();
  fs::create_symlink("/dev/null", node);
  // Another name in /dev for the same device. A stat() through a link that reads so would
  // find the node's device, and might just as well hang on a stalled FUSE file there: such
  // a link is never followed.
  const std::string otherName = "/dev/shm/vrq-scan-" + std::to_string(getpid());
  std::error_code error;
  fs::create_symlink("/dev/null", otherName, error);
  if (error) GTEST_SKIP() << "cannot make " << otherName << ": " << error.message();
  struct Remove {
    std::string path;
    ~Remove() { fs::remove(path); }
  } removeOtherName{otherName};

  Process(10, "resolved", "a", {"socket:[1]", "/dev/null"});
  Process(11, "other-name", "b", {otherName});
  Process(12, "as-given", "c", {node});
  Process(13, "deleted", "d", {"/dev/null (deleted)", "/dev/null2"});
  platform::HolderScan scan = platform::FindProcessesHolding(node, root_.string());
  ASSERT_EQ(scan.holders.size(), 2u);
  EXPECT_EQ(scan.holders[0].pid, 10);
  EXPECT_EQ(scan.holders[1].pid, 12);

  scan = platform::FindProcessesHolding("/dev/null", root_.string());
  ASSERT_EQ(scan.holders.size(), 1u);
  EXPECT_EQ(scan.holders[0].pid, 10);
}

TEST_F(ProcessScanTest, AHoldersOwnFilesCannotKeepTheScanWaiting) {
  // Pipes nobody writes in place of the holder's comm and cmdline: a blocking open of
  // either would wait for ever.
  fs::path holder = Process(20, "", "", {"/dev/usb/lp0"}, "/usr/bin/python3");
  for (const char* name : {"comm", "cmdline"}) {
    fs::remove(holder / name);
    ASSERT_EQ(mkfifo((holder / name).c_str(), 0600), 0);
  }
  const auto start = std::chrono::steady_clock::now();
  platform::HolderScan scan = platform::FindProcessesHolding("/dev/usb/lp0", root_.string());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(scan.timedOut);
  ASSERT_EQ(scan.holders.size(), 1u);
  EXPECT_EQ(scan.holders[0].command, "");
  EXPECT_EQ(scan.holders[0].argv0, "");
  EXPECT_EQ(scan.holders[0].executable, "/usr/bin/python3");
}

// User and system time of this process, all its threads, in milliseconds.
long ProcessorMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000L;
}

TEST_F(ProcessScanTest, AHundredThousandDescriptorsTakeWellUnderASecondAndTheDeadlineHolds) {
  // 2,000 processes of 50 descriptors each; one of them holds the node.
  const std::vector<std::string> kinds = {
      "/dev/pts/",           "socket:[", "/dev/usb/lp1", "pipe:[", "/home/user/.cache/file",
      "anon_inode:[eventfd]"};
  for (int pid = 100; pid < 2100; ++pid) {
    std::vector<std::string> files;
    for (int fd = 0; fd < 50; ++fd)
      files.push_back(kinds[fd % kinds.size()] + std::to_string(pid * 50 + fd));
    if (pid == 1500) files[37] = "/dev/usb/lp0";
    Process(pid, "p" + std::to_string(pid), "p", files);
  }

  // The processor time the scan costs is what tells a scan that looks at every link
  // closely (a stat() each) from one that reads their texts: wall time depends on what
  // else the machine runs. bench/platform has the figure.
  const long cpuBefore = ProcessorMs();
  const auto start = std::chrono::steady_clock::now();
  platform::HolderScan scan =
      platform::FindProcessesHolding("/dev/usb/lp0", root_.string(), std::chrono::seconds(60));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  const long cpuMs = ProcessorMs() - cpuBefore;
  RecordProperty("scan_ms", std::to_string(ms));
  std::printf("scan of 100,000 descriptors: %lld ms, %ld ms of processor time\n",
              static_cast<long long>(ms), cpuMs);
  EXPECT_LT(cpuMs, 1000);
  EXPECT_FALSE(scan.timedOut);
  ASSERT_EQ(scan.holders.size(), 1u);
  EXPECT_EQ(scan.holders[0].pid, 1500);
  EXPECT_EQ(scan.holders[0].command, "p1500");

  // Given no time at all, the scan answers at once and says it ran out.
  const auto late = std::chrono::steady_clock::now();
  platform::HolderScan cut =
      platform::FindProcessesHolding("/dev/usb/lp0", root_.string(), std::chrono::milliseconds(0));
  EXPECT_LT(std::chrono::steady_clock::now() - late, std::chrono::seconds(1));
  EXPECT_TRUE(cut.timedOut);
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
