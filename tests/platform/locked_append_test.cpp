#include "platform/locked_append.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class LockedAppendTest : public ::testing::Test {
 protected:
  LockedAppendTest() {
    std::string pattern = (fs::temp_directory_path() / "vrq-append-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    path_ = dir_ + "/log";
  }
  ~LockedAppendTest() override { fs::remove_all(dir_); }

  std::string dir_;
  std::string path_;
};

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(Read(path));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

unsigned Mode(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Line number n of writer w, of a length that varies with n (up to 600 bytes, so that
// lines straddle pages and blocks).
std::string Line(int w, int n) {
  return "writer " + std::to_string(w) + " line " + std::to_string(n) + " " +
         std::string(static_cast<size_t>((n * 37 + w * 11) % 600), static_cast<char>('a' + w)) +
         "\n";
}

// Runs body in writers child processes, started together; true when each of them
// returned true.
bool InChildren(int writers, const std::function<bool(int)>& body) {
  int gate[2];
  if (::pipe(gate) != 0) return false;
  std::vector<pid_t> children;
  for (int w = 0; w < writers; ++w) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(gate[1]);
      char none;
      (void)!::read(gate[0], &none, 1);  // returns once the parent closes its end
      ::_exit(body(w) ? 0 : 1);
    }
    children.push_back(child);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  bool ok = true;
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return ok;
}

// Writer and line number of every line; fails the test on a line that is not whole.
std::vector<std::pair<int, int>> Parse(const std::vector<std::string>& lines) {
  static const std::regex shape(R"(writer (\d) line (\d+) ([a-z]*))");
  std::vector<std::pair<int, int>> parsed;
  for (const std::string& line : lines) {
    std::smatch match;
    if (!std::regex_match(line, match, shape)) {
      ADD_FAILURE() << "torn line: " << line.substr(0, 80);
      continue;
    }
    const int w = std::stoi(match[1]), n = std::stoi(match[2]);
    EXPECT_EQ(line + "\n", Line(w, n));
    parsed.emplace_back(w, n);
  }
  return parsed;
}

TEST_F(LockedAppendTest, ProcessesAppendingAtOnceWriteWholeLinesInTheirOrder) {
  constexpr int kWriters = 4, kLines = 2500;
  ASSERT_TRUE(InChildren(kWriters, [&](int w) {
    for (int n = 0; n < kLines; ++n) {
      if (!platform::LockedAppend(path_, Line(w, n), {}).written) return false;
    }
    return true;
  }));
  std::map<int, int> next;  // each writer's lines come in its order, none lost or doubled
  const auto parsed = Parse(Lines(path_));
  EXPECT_EQ(parsed.size(), static_cast<size_t>(kWriters * kLines));
  for (auto [w, n] : parsed)
    EXPECT_EQ(n, next[w]++) << "writer " << w;
  EXPECT_EQ(Mode(path_), 0600u);
}

TEST_F(LockedAppendTest, ProcessesRotatingAtOnceLoseNoLineOfTheLastTwoFiles) {
  constexpr int kWriters = 4, kLines = 1500;
  platform::LockedAppendOptions options;
  options.rotateAt = 8 * 1024;  // a rotation every 30 lines or so
  options.rotatedPath = path_ + ".1";
  ASSERT_TRUE(InChildren(kWriters, [&](int w) {
    for (int n = 0; n < kLines; ++n) {
      if (!platform::LockedAppend(path_, Line(w, n), options).written) return false;
    }
    return true;
  }));
  EXPECT_LE(fs::file_size(path_), 8u * 1024);
  EXPECT_LE(fs::file_size(options.rotatedPath), 8u * 1024);
  EXPECT_GT(fs::file_size(options.rotatedPath), 7u * 1024);
  // The two files hold the newest lines: of each writer found there, an unbroken run up
  // to its last line.
  std::vector<std::string> lines = Lines(options.rotatedPath);
  for (std::string& line : Lines(path_))
    lines.push_back(line);
  std::map<int, std::vector<int>> numbers;
  for (auto [w, n] : Parse(lines))
    numbers[w].push_back(n);
  ASSERT_FALSE(numbers.empty());
  for (auto& [w, seen] : numbers) {
    EXPECT_EQ(seen.back(), kLines - 1) << "writer " << w;
    for (size_t i = 1; i < seen.size(); ++i)
      ASSERT_EQ(seen[i], seen[i - 1] + 1) << "writer " << w;
  }
}

TEST_F(LockedAppendTest, AWriterThatWaitedThroughARotationWritesToTheNewFile) {
  std::ofstream(path_) << "old\n";
  const int holder = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(holder);  // the lock stays with the parent's descriptor
    ::_exit(platform::LockedAppend(path_, "late\n", {}).written ? 0 : 1);
  }
  std::this_thread::sleep_for(200ms);  // the child has opened the file and waits for it
  // Another process rotates the file while the child waits for its lock.
  fs::rename(path_, path_ + ".1");
  ::close(holder);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Read(path_ + ".1"), "old\n");
  EXPECT_EQ(Read(path_), "late\n");
}

TEST_F(LockedAppendTest, RotationReplacesTheOlderFileAndABrokenLastLineIsClosed) {
  platform::LockedAppendOptions options;
  options.rotateAt = 20;
  options.rotatedPath = path_ + ".1";
  std::ofstream(path_) << "cut short";  // no line break: a crash in mid-write
  EXPECT_TRUE(platform::LockedAppend(path_, "first\n", options).written);
  EXPECT_EQ(Read(path_), "cut short\nfirst\n");

  EXPECT_TRUE(platform::LockedAppend(path_, "second\n", options).written);  // 16 + 7 > 20
  EXPECT_EQ(Read(options.rotatedPath), "cut short\nfirst\n");
  EXPECT_EQ(Read(path_), "second\n");
  EXPECT_TRUE(platform::LockedAppend(path_, "third\n", options).written);
  EXPECT_EQ(Read(path_), "second\nthird\n");
  EXPECT_TRUE(platform::LockedAppend(path_, "a line longer than the limit\n", options).written);
  EXPECT_EQ(Read(options.rotatedPath), "second\nthird\n");
  EXPECT_EQ(Read(path_), "a line longer than the limit\n");

  // A rotation that cannot be done keeps the line and says so.
  fs::remove(options.rotatedPath);
  fs::create_directories(options.rotatedPath + "/busy");
  const platform::AppendResult kept = platform::LockedAppend(path_, "fourth\n", options);
  EXPECT_TRUE(kept.written);
  EXPECT_EQ(kept.problem.rfind("cannot rotate " + path_ + " to " + options.rotatedPath + ": ", 0),
            0u)
      << kept.problem;
  EXPECT_EQ(Read(path_), "a line longer than the limit\nfourth\n");
}

TEST_F(LockedAppendTest, NewFilesGetTheirPermissionsWhateverTheUmask) {
  const mode_t saved = ::umask(077);
  platform::LockedAppendOptions options;
  options.permissions = 0644;
  EXPECT_TRUE(platform::LockedAppend(path_, "x\n", options).written);
  ::umask(0);
  options.permissions = 0600;
  EXPECT_TRUE(platform::LockedAppend(dir_ + "/other", "x\n", options).written);
  ::umask(saved);
  EXPECT_EQ(Mode(path_), 0644u);
  EXPECT_EQ(Mode(dir_ + "/other"), 0600u);
}

TEST_F(LockedAppendTest, OnlyRegularFilesAreWrittenAndNothingWaitsForAReader) {
  std::ofstream(dir_ + "/victim") << "keep\n";
  fs::create_symlink(dir_ + "/victim", path_);
  platform::AppendResult result = platform::LockedAppend(path_, "x\n", {});
  EXPECT_FALSE(result.written);
  EXPECT_EQ(result.problem, "cannot write " + path_ + ": not a regular file");
  EXPECT_EQ(Read(dir_ + "/victim"), "keep\n");

  fs::remove(path_);
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  EXPECT_FALSE(platform::LockedAppend(path_, "x\n", {}).written);
  EXPECT_FALSE(platform::LockedAppend(dir_ + "/missing/log", "x\n", {}).written);
}

TEST_F(LockedAppendTest, AHeldLockIsWaitedForOnlySoLong) {
  std::ofstream(path_) << "old\n";
  const int holder = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  platform::LockedAppendOptions options;
  options.lockWait = 50ms;
  const auto start = std::chrono::steady_clock::now();
  const platform::AppendResult result = platform::LockedAppend(path_, "new\n", options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_FALSE(result.written);
  EXPECT_EQ(result.problem, "cannot write " + path_ + ": another process holds it locked");

  // A reader does not wait for ever either: it reads what is there.
  const auto texts = platform::ReadLocked({path_}, 1 << 20, 50ms);
  EXPECT_EQ(texts[0].text, "old\n");
  ::close(holder);
  EXPECT_TRUE(platform::LockedAppend(path_, "new\n", options).written);
  EXPECT_EQ(Read(path_), "old\nnew\n");
}

TEST_F(LockedAppendTest, ALineTheDiskCannotTakeWholeIsTakenBack) {
  std::ofstream(path_) << "earlier line\n";
  const std::string before = Read(path_);
  // The file size limit cuts the write short as a full disk would.
  ASSERT_TRUE(InChildren(1, [&](int) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 10, before.size() + 10};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    const platform::AppendResult result =
        platform::LockedAppend(path_, std::string(100, 'x') + "\n", {});
    return !result.written && result.problem == "cannot write " + path_ + ": File too large";
  }));
  EXPECT_EQ(Read(path_), before);
}

TEST_F(LockedAppendTest, ReadingTellsMissingFilesAndReadsOnlyTheEndOfLongOnes) {
  std::ofstream(path_) << "0123456789";
  const auto texts = platform::ReadLocked({path_, path_ + ".1", dir_}, 4, 1s);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].text, "6789");
  EXPECT_TRUE(texts[0].cut);
  EXPECT_TRUE(texts[1].missing);
  EXPECT_EQ(texts[1].problem, "");
  EXPECT_FALSE(texts[2].missing);
  EXPECT_EQ(texts[2].problem, "cannot read " + dir_ + ": not a regular file");

  const auto whole = platform::ReadLocked({path_}, 10, 1s);
  EXPECT_EQ(whole[0].text, "0123456789");
  EXPECT_FALSE(whole[0].cut);
}

}  // namespace
