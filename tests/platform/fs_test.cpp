#include "platform/fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>

#include "platform/file.h"

namespace {

namespace fs = std::filesystem;

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "vrq-fs-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~Scratch() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

unsigned Mode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(TempFiles, TempFolderHonoursTmpdir) {
  Scratch dir;
  const char* saved = std::getenv("TMPDIR");
  setenv("TMPDIR", dir.path().c_str(), 1);
  EXPECT_EQ(platform::TempFolder(), dir.path() + "/");
  setenv("TMPDIR", (dir / "not-a-folder").c_str(), 1);
  EXPECT_EQ(platform::TempFolder(), "/tmp/");
  if (saved != nullptr) {
    setenv("TMPDIR", saved, 1);
  } else {
    unsetenv("TMPDIR");
  }
}

// Sets an environment variable for as long as it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The program's own folder only when it is the user's and no installed program's, then a
// private runtime folder, then TMPDIR.
TEST(TempFiles, TemporaryFilesGoToTheOwnFolderOnlyWhenItIsTheUsersAndNotUnderUsr) {
  Scratch own, runtime, temp;
  ScopedVariable tmpdir("TMPDIR", temp.path().c_str());
  ScopedVariable xdg("XDG_RUNTIME_DIR", runtime.path().c_str());
  chmod(runtime.path().c_str(), 0700);
  using Folders = std::vector<std::string>;
  EXPECT_EQ(platform::TempFileFolders(own.path()),
            (Folders{own.path() + "/", runtime.path() + "/", temp.path() + "/"}));
  // /usr/lib is root's, but even root keeps nothing there.
  EXPECT_EQ(platform::TempFileFolders("/usr/lib/"),
            (Folders{runtime.path() + "/", temp.path() + "/"}));
  EXPECT_EQ(platform::TempFileFolders(""), (Folders{runtime.path() + "/", temp.path() + "/"}));
  EXPECT_EQ(platform::TempFileFolders(own / "missing"),
            (Folders{runtime.path() + "/", temp.path() + "/"}));
  // A runtime folder that others may write is no place for them.
  chmod(runtime.path().c_str(), 0777);
  EXPECT_EQ(platform::TempFileFolders("/usr/lib"), Folders{temp.path() + "/"});
  chmod(runtime.path().c_str(), 0700);
  {
    ScopedVariable relative("XDG_RUNTIME_DIR", "run/user");
    EXPECT_EQ(platform::TempFileFolders("/usr/lib"), Folders{temp.path() + "/"});
  }
  {
    ScopedVariable unset("XDG_RUNTIME_DIR", nullptr);
    ScopedVariable same("TMPDIR", own.path().c_str());
    EXPECT_EQ(platform::TempFileFolders(own.path()), Folders{own.path() + "/"});
  }
}

TEST(Files, CopyKeepsBytesAndPermissionBits) {
  Scratch dir;
  std::ofstream(dir / "tool") << "#!/bin/sh\necho hi\n";
  chmod((dir / "tool").c_str(), 0751);
  ASSERT_TRUE(platform::CopyFile(dir / "tool", dir / "copy", true));
  EXPECT_EQ(Mode(dir / "copy"), 0751u);
  EXPECT_EQ(fs::file_size(dir / "copy"), fs::file_size(dir / "tool"));

  std::ofstream(dir / "other") << "x";
  EXPECT_FALSE(platform::CopyFile(dir / "other", dir / "copy", true));
  EXPECT_EQ(fs::file_size(dir / "copy"), fs::file_size(dir / "tool"));
  EXPECT_TRUE(platform::CopyFile(dir / "other", dir / "copy", false));
  EXPECT_EQ(fs::file_size(dir / "copy"), 1u);
  EXPECT_FALSE(platform::CopyFile(dir / "missing", dir / "x", false));
  EXPECT_FALSE(platform::CopyFile(dir.path(), dir / "x", false));  // a folder is no file
}

TEST(Files, ListingSkipsDotEntriesAndTellsFolders) {
  Scratch dir;
  fs::create_directory(dir / "sub");
  std::ofstream(dir / "file") << "";
  auto entries = platform::ListFolder(dir.path());
  ASSERT_TRUE(entries.has_value());
  std::sort(entries->begin(), entries->end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].name, "file");
  EXPECT_FALSE((*entries)[0].isFolder);
  EXPECT_TRUE((*entries)[1].isFolder);
  EXPECT_FALSE(platform::ListFolder(dir / "missing").has_value());
}

TEST(Files, PrivateFolderAndExecutablePath) {
  Scratch dir;
  EXPECT_TRUE(platform::CreatePrivateFolder(dir / ".work"));
  EXPECT_EQ(Mode(dir / ".work"), 0700u);
  EXPECT_FALSE(platform::CreatePrivateFolder(dir / ".work"));
  EXPECT_EQ(fs::path(platform::ExecutablePath()), fs::canonical("/proc/self/exe"));
}

TEST(Files, FolderPathsAreMadeLevelByLevelWithTheirModeExactly) {
  Scratch dir;
  const mode_t saved = ::umask(077);
  EXPECT_EQ(platform::CreateFolderPath(dir / "a/b/c", 0755), "");
  ::umask(saved);
  for (const char* level : {"a", "a/b", "a/b/c"})
    EXPECT_EQ(Mode(dir / level), 0755u) << level;

  // What exists stays as it is.
  ::chmod((dir / "a").c_str(), 0711);
  EXPECT_EQ(platform::CreateFolderPath(dir / "a/b/d/", 0700), "");
  EXPECT_EQ(Mode(dir / "a"), 0711u);
  EXPECT_EQ(Mode(dir / "a/b/d"), 0700u);

  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(platform::CreateFolderPath(dir / "file/sub", 0700),
            "cannot make the folder " + dir / "file/sub" + ": Not a directory");
  EXPECT_EQ(platform::CreateFolderPath(dir / "file", 0700),
            "cannot make the folder " + dir / "file" + ": Not a directory");
}

TEST(Files, HomeFoldersComeFromTheUserDatabase) {
  EXPECT_EQ(platform::EffectiveUserId(), ::geteuid());
  EXPECT_EQ(platform::UserDatabaseHome(0), "/root");
  EXPECT_EQ(platform::UserDatabaseHome(3999999999u), "");
}

TEST(Files, WritesFailLikeAFullDiskWhenInjected) {
  Scratch dir;
  platform::File file = platform::File::Open(dir / "f", platform::File::Mode::kCreateTruncate);
  platform::InjectWriteFailureAfter(3);
  EXPECT_EQ(file.Write("abcdef", 6), 3);
  platform::InjectWriteFailureAfter(-1);
  EXPECT_EQ(file.Write("gh", 2), 2);
}

// Files a user names are opened without waiting and taken only when they are regular
// files: a FIFO with nobody at its other end, a folder or a device is refused at once.
TEST(Files, OnlyRegularFilesOpenForReadingAndNoOpenWaits) {
  Scratch dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::ofstream(dir / "plain") << "bytes";
  fs::create_symlink(dir / "plain", dir / "link");
  using Mode = platform::File::Mode;
  for (const std::string& path : {dir / "pipe", dir.path(), std::string("/dev/null")}) {
    for (Mode mode : {Mode::kRead, Mode::kReadWrite}) {
      SCOPED_TRACE(path);
      platform::File file = platform::File::Open(path, mode);
      EXPECT_FALSE(file.IsOpen());
      EXPECT_EQ(file.LastError(), platform::kNotRegularFile);
      EXPECT_EQ(platform::OpenFailure(path, file.LastError()), path + " is not a regular file");
    }
  }
  // A FIFO opened as an output without a reader fails rather than waits for one.
  EXPECT_FALSE(platform::File::Open(dir / "pipe", Mode::kCreateTruncate).IsOpen());

  platform::File file = platform::File::Open(dir / "link", Mode::kRead);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(fcntl(file.Handle().Get(), F_GETFL) & O_NONBLOCK, 0);  // reads block as usual
  char text[8] = {};
  EXPECT_EQ(file.Read(text, sizeof text), 5);
  const platform::File missing = platform::File::Open(dir / "missing", Mode::kRead);
  EXPECT_EQ(platform::OpenFailure("m", missing.LastError()),
            "cannot open m: No such file or directory");
}

}  // namespace
