#include "platform/folder_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

class FolderAccessTest : public ::testing::Test {
 protected:
  FolderAccessTest() {
    std::string pattern = (fs::temp_directory_path() / "vrq-access-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    ::chmod(dir_.c_str(), 0755);  // others may look in, so that another user can be asked
  }
  ~FolderAccessTest() override {
    if (!startFolder_.empty()) fs::current_path(startFolder_);
    fs::remove_all(dir_);
  }
  std::string Sub(const std::string& name, mode_t mode) {
    const std::string path = dir_ + "/" + name;
    fs::create_directory(path);
    ::chmod(path.c_str(), mode);
    return path;
  }
  void RememberCurrentFolder() { startFolder_ = fs::current_path(); }

  std::string dir_;
  fs::path startFolder_;
};

// Runs check in a child process with the ids of "nobody", in folder: root may write
// anywhere, so what an ordinary user meets can only be seen as another user. The child
// starts in folder so that the folders above it (a chroot's root may be private) do
// not matter.
bool AsNobody(const std::string& folder, const std::function<bool()>& check) {
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = ::chdir(folder.c_str()) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                         ::setresuid(65534, 65534, 65534) == 0;
    ::_exit(dropped && check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(FolderAccessTest, WritableOnlyWhereTheUserMayCreateFiles) {
  EXPECT_TRUE(platform::FolderIsWritable(dir_));
  EXPECT_TRUE(platform::FolderIsWritable(dir_ + "/"));
  EXPECT_FALSE(platform::FolderIsWritable(dir_ + "/missing/"));
  EXPECT_FALSE(platform::FolderIsWritable(""));
  std::ofstream(dir_ + "/file") << "x";
  EXPECT_FALSE(platform::FolderIsWritable(dir_ + "/file"));

  const std::string readOnly = Sub("read-only", 0555);
  const std::string open = Sub("open", 0777);
  const std::string noSearch = Sub("no-search", 0666);
  if (::geteuid() == 0) {
    EXPECT_TRUE(AsNobody(dir_, [] { return !platform::FolderIsWritable("read-only"); }));
    EXPECT_TRUE(AsNobody(dir_, [] { return !platform::FolderIsWritable("no-search"); }));
    EXPECT_TRUE(AsNobody(dir_, [] { return !platform::FolderIsWritable("."); }));
    EXPECT_TRUE(AsNobody(dir_, [] { return platform::FolderIsWritable("open/"); }));
  } else {
    EXPECT_FALSE(platform::FolderIsWritable(readOnly));
    EXPECT_FALSE(platform::FolderIsWritable(noSearch));
    EXPECT_TRUE(platform::FolderIsWritable(open));
  }
}

TEST_F(FolderAccessTest, CurrentFolderEndsWithASlashOrIsEmptyWhenGone) {
  RememberCurrentFolder();
  const std::string here = Sub("here", 0755);
  fs::current_path(here);
  EXPECT_EQ(platform::CurrentFolder(), fs::canonical(here).string() + "/");

  fs::remove(here);
  EXPECT_EQ(platform::CurrentFolder(), "");
}

}  // namespace
