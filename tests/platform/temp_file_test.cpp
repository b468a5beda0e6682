#include "platform/temp_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "platform/fs.h"

namespace {

namespace fs = std::filesystem;

class TempFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "temp-file-test-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

unsigned Mode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST_F(TempFileTest, NamesAreUniquePrivateAndWellFormed) {
  const std::string dir = root_.string();
  std::set<std::string> names;
  const std::regex pattern(R"(_\^~[0-9A-F]{1,4}\.tmp)");
  for (int i = 0; i < 200; ++i) {
    std::string name = platform::TempFile::Create(dir, "_^~").Release();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(platform::FolderOf(name), dir + "/");
    EXPECT_TRUE(std::regex_match(platform::FileNameOf(name), pattern)) << name;
    EXPECT_EQ(Mode(name), 0600u);
    EXPECT_EQ(fs::file_size(name), 0u);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 200u);
  EXPECT_EQ(platform::TempFile::Create(dir + "/missing", "_^~").Release(), "");
}

TEST_F(TempFileTest, OwnedFilesGoWithTheirOwner) {
  std::string kept;
  {
    platform::TempFile file = platform::TempFile::Create(root_.string(), "_^~");
    ASSERT_TRUE(file.IsOpen());
    platform::TempFile moved = std::move(file);
    EXPECT_FALSE(file.IsOpen());
    platform::TempFile released = platform::TempFile::Create(root_.string(), "_^~");
    kept = released.Release();
    EXPECT_FALSE(released.IsOpen());
    EXPECT_TRUE(fs::exists(moved.Path()));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(root_), {}), 1);
  EXPECT_TRUE(fs::exists(kept));

  platform::TempFile missing = platform::TempFile::Create((root_ / "missing").string(), "_^~");
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.LastError(), ENOENT);
}

// A file put in the place of an owned one (after the owner's was removed by someone) is
// not the owner's to delete.
TEST_F(TempFileTest, OnlyTheOwnedFileIsDeleted) {
  platform::TempFile file = platform::TempFile::Create(root_.string(), "_^~");
  const std::string path = file.Path();
  fs::remove(path);
  std::ofstream(path) << "someone else's";
  EXPECT_FALSE(file.Remove());
  EXPECT_TRUE(fs::exists(path));
}

TEST_F(TempFileTest, TheSweepTakesOnlyWhatNobodyHolds) {
  platform::TempFile held = platform::TempFile::Create(root_.string(), "_^~");
  const std::string stale = platform::TempFile::Create(root_.string(), "_^~").Release();
  fs::create_directory(root_ / "_^~AB.tmp");  // a folder, not a file
  fs::create_symlink(stale, root_ / "_^~CD.tmp");

  EXPECT_EQ(platform::SweepStaleTempFiles(root_.string(), "_^~"), std::vector<std::string>{stale});
  EXPECT_TRUE(fs::exists(held.Path()));
  EXPECT_TRUE(fs::is_directory(root_ / "_^~AB.tmp"));
  EXPECT_TRUE(fs::is_symlink(root_ / "_^~CD.tmp"));
}

// ".1A2B.tmp" is a name other programs make as well: with a mark, only the files that
// hold exactly the mark are this program's to sweep.
TEST_F(TempFileTest, AMarkedFileHoldsItsMarkAndOnlyMarkedFilesAreSwept) {
  const std::string mark = "this program's\n";
  platform::TempFile held = platform::TempFile::Create(root_.string(), ".", mark);
  ASSERT_TRUE(held.IsOpen());
  std::ifstream in(held.Path());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), mark);
  const std::string stale = platform::TempFile::Create(root_.string(), ".", mark).Release();
  const std::string empty = platform::TempFile::Create(root_.string(), ".").Release();
  const std::string longer = platform::TempFile::Create(root_.string(), ".", mark).Release();
  std::ofstream(longer, std::ios::app) << "more";
  const std::string other = platform::TempFile::Create(root_.string(), ".").Release();
  std::ofstream(other) << "this program'S\n";

  EXPECT_EQ(platform::SweepStaleTempFiles(root_.string(), ".", mark),
            std::vector<std::string>{stale});
  for (const std::string& path : {held.Path(), empty, longer, other})
    EXPECT_TRUE(fs::exists(path)) << path;
}

}  // namespace
