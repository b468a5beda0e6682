#include "workflow/leftovers.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "package/opfile.h"
#include "platform/fs.h"
#include "platform/temp_file.h"
#include "raw_package.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// What one instance of the program holds while it runs: the extracted package and the
// library image as temporary files, and a package object's work folder with an item.
struct RunFiles {
  platform::TempFile package, library;
  fwp::TOPFile items;

  explicit RunFiles(const std::string& exeFolder)
      : package(platform::TempFile::Create(platform::TempFolder(), "_^~")),
        library(platform::TempFile::Create(exeFolder, "_^~")) {
    rawpkg::Write(items.WorkFolder() + "item.bin", "extracted");
  }
  std::vector<std::string> Paths() const {
    return {package.Path(), library.Path(), items.WorkFolder()};
  }
};

// A second instance in a child process; it reports its paths and waits to be killed.
class OtherInstance {
 public:
  explicit OtherInstance(const std::string& exeFolder) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      RunFiles run(exeFolder);
      std::string lines;
      for (const std::string& path : run.Paths())
        lines += path + "\n";
      if (write(fds[1], lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) _exit(1);
      for (;;)
        pause();
    }
    close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<size_t>(n));
      if (std::count(text.begin(), text.end(), '\n') == 3) break;
    }
    close(fds[0]);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      paths_.push_back(line);
  }
  ~OtherInstance() { Kill(); }
  // As kill -9 would: nothing of the instance's own clean-up runs.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  const std::vector<std::string>& Paths() const { return paths_; }

 private:
  pid_t pid_ = -1;
  std::vector<std::string> paths_;
};

bool Exists(const std::string& path) {
  return fs::exists(fs::symlink_status(path));
}

class LeftoversTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Keep("TMPDIR", oldTmpdir_);
    Keep("XDG_RUNTIME_DIR", oldRuntime_);
    setenv("TMPDIR", temp_.path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
  }
  void TearDown() override {
    Restore("TMPDIR", oldTmpdir_);
    Restore("XDG_RUNTIME_DIR", oldRuntime_);
  }
  static void Keep(const char* name, std::optional<std::string>& value) {
    if (const char* old = std::getenv(name)) value = old;
  }
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  ScratchDir temp_, exe_, runtime_;
  std::optional<std::string> oldTmpdir_, oldRuntime_;
};

TEST_F(LeftoversTest, AHeldRunKeepsItsFilesAndAKilledOneLosesThem) {
  OtherInstance other(exe_.path());
  ASSERT_EQ(other.Paths().size(), 3u);
  RunFiles mine(exe_.path());
  // Left by an earlier run that died: made with the same names, held by nobody.
  const std::string staleLibrary = platform::TempFile::Create(exe_.path(), "_^~").Release();
  const std::string staleCopy = platform::TempFile::Create(runtime_.path(), "_^~").Release();
  // A work folder with its placeholder (made empty by an earlier version), and a
  // placeholder of this program's whose run died before it made the folder.
  const std::string stalePlaceholder = platform::TempFile::Create(temp_.path(), ".").Release();
  fs::create_directories(stalePlaceholder + "_optfiles/sub");
  rawpkg::Write(stalePlaceholder + "_optfiles/sub/item.bin", "x");
  const std::string lonePlaceholder =
      platform::TempFile::Create(temp_.path(), ".", fwp::kPlaceholderMark).Release();
  // Not this program's, though alike: another program's empty ".1A2B.tmp" among them.
  const std::vector<std::string> foreign = {exe_ / "_^~12345.tmp", exe_ / "_^~1a.tmp",
                                            exe_ / "x_^~1A.tmp", temp_ / ".1A2B.tmp.bak",
                                            temp_ / "_^~G.tmp"};
  for (const std::string& path : foreign)
    rawpkg::Write(path, "keep");
  rawpkg::Write(temp_ / ".1C.tmp", "not empty: no placeholder of ours");
  rawpkg::Write(temp_ / ".1A2B.tmp", "");

  std::vector<std::string> removed = app::SweepLeftovers(exe_.path());
  std::sort(removed.begin(), removed.end());
  std::vector<std::string> expected = {staleLibrary, staleCopy, stalePlaceholder,
                                       stalePlaceholder + "_optfiles", lonePlaceholder};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(removed, expected);
  for (const std::string& path : other.Paths())
    EXPECT_TRUE(Exists(path)) << path;
  for (const std::string& path : mine.Paths())
    EXPECT_TRUE(Exists(path)) << path;
  for (const std::string& path : foreign)
    EXPECT_TRUE(Exists(path)) << path;
  EXPECT_TRUE(Exists(temp_ / ".1C.tmp"));
  EXPECT_TRUE(Exists(temp_ / ".1A2B.tmp"));

  other.Kill();
  removed = app::SweepLeftovers(exe_.path());
  EXPECT_EQ(removed.size(), 4u);  // its two files, its work folder and that's placeholder
  for (const std::string& path : other.Paths())
    EXPECT_FALSE(Exists(path)) << path;
  for (const std::string& path : mine.Paths())
    EXPECT_TRUE(Exists(path)) << path;
  EXPECT_TRUE(app::SweepLeftovers(exe_.path()).empty());
  mine.items.RemoveAllItems();
}

// The owners of a run clean up after themselves; the sweep is for runs that could not.
TEST_F(LeftoversTest, ARunThatEndsNormallyLeavesNothing) {
  { RunFiles run(exe_.path()); }
  EXPECT_TRUE(fs::is_empty(exe_.path()));
  // The item file stays with the folder (the package object deletes only what it
  // extracted), so the folder is the sweep's, and so is nothing else.
  EXPECT_EQ(app::SweepLeftovers(exe_.path()).size(), 1u);
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

}  // namespace
