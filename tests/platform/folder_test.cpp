#include "platform/folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "folder-test-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    fs::create_directories(root_ / "target/real");
    fs::create_directories(root_ / "elsewhere");
    folder_ = platform::Folder::Open((root_ / "target").string());
    ASSERT_TRUE(folder_.IsOpen());
  }
  void TearDown() override { fs::remove_all(root_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  int CreateError(const std::string& relative) {
    platform::File file = folder_.CreateFile(relative);
    return file.IsOpen() ? 0 : file.LastError();
  }

  fs::path root_;
  platform::Folder folder_;
};

TEST_F(FolderTest, FilesAreMadeOnlyThroughRealFolders) {
  platform::File file = folder_.CreateFile("real/./a.bin");
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Write("abc", 3), 3);
  file.Close();
  EXPECT_EQ(Read(root_ / "target/real/a.bin"), "abc");

  fs::create_directory_symlink(root_ / "elsewhere", root_ / "target/link");
  std::ofstream(root_ / "elsewhere/victim") << "keep";
  fs::create_symlink(root_ / "elsewhere/victim", root_ / "target/victim");
  EXPECT_NE(CreateError("link/a.bin"), 0);
  EXPECT_EQ(CreateError("victim"), ELOOP);
  EXPECT_EQ(CreateError("../elsewhere/x"), EINVAL);
  EXPECT_EQ(CreateError("/tmp/x"), EINVAL);
  EXPECT_EQ(CreateError("real/"), EINVAL);
  EXPECT_EQ(CreateError("missing/x"), ENOENT);
  EXPECT_EQ(Read(root_ / "elsewhere/victim"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "elsewhere"), {}), 1);

  EXPECT_FALSE(folder_.DeleteFile("link/../victim"));
  EXPECT_FALSE(folder_.DeleteFile("link/victim"));
  EXPECT_TRUE(fs::exists(root_ / "elsewhere/victim"));
  EXPECT_FALSE(folder_.DeleteFile("real"));   // never a folder
  EXPECT_TRUE(folder_.DeleteFile("victim"));  // the link itself goes
  EXPECT_TRUE(fs::exists(root_ / "elsewhere/victim"));
  EXPECT_TRUE(folder_.DeleteFile("real/a.bin"));
}

// Opening a FIFO for writing waits for a reader: a planted one must fail at once.
TEST_F(FolderTest, AFifoIsRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo((root_ / "target/pipe").c_str(), 0600), 0);
  EXPECT_NE(CreateError("pipe"), 0);
}

TEST(FreeSpace, ReportsTheFileSystemOrTheInjectedFigure) {
  EXPECT_GT(platform::FreeSpace(fs::temp_directory_path().string()), 0);
  EXPECT_EQ(platform::FreeSpace("/no/such/folder"), -1);
  platform::InjectFreeSpace(12345);
  EXPECT_EQ(platform::FreeSpace("/no/such/folder"), 12345);
  platform::InjectFreeSpace(-1);
}

}  // namespace
