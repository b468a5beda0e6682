#include "platform/replacing_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class ReplacingFileTest : public ::testing::Test {
 protected:
  ReplacingFileTest() {
    std::string pattern = (fs::temp_directory_path() / "replacing_XXXXXX").string();
    dir = mkdtemp(pattern.data());
  }
  ~ReplacingFileTest() override { fs::remove_all(dir); }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
  }
  fs::path dir;
};

TEST_F(ReplacingFileTest, TheTargetChangesOnlyOnCommit) {
  const fs::path target = dir / "app.run";
  std::ofstream(target) << "old";
  {
    platform::ReplacingFile file = platform::ReplacingFile::Begin(target.string());
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(fs::path(file.TemporaryPath()).parent_path(), dir);
    // Locked, so that a sweep of stale temporary files leaves it alone.
    platform::File other = platform::File::Open(file.TemporaryPath(), platform::File::Mode::kRead);
    EXPECT_NE(flock(other.Handle().Get(), LOCK_EX | LOCK_NB), 0);
    file.Output().Write("new", 3);
    EXPECT_EQ(Read(target), "old");
  }
  // Given up: the temporary file is gone, the target as it was.
  EXPECT_EQ(Read(target), "old");
  EXPECT_EQ(Entries(), 1u);

  platform::ReplacingFile file = platform::ReplacingFile::Begin(target.string());
  file.Output().Write("new", 3);
  ASSERT_TRUE(file.Commit(0750));
  EXPECT_EQ(Read(target), "new");
  EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0750));
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(ReplacingFileTest, AFolderThatCannotBeWrittenSaysWhy) {
  platform::ReplacingFile file = platform::ReplacingFile::Begin((dir / "no" / "app.run").string());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.LastError(), ENOENT);
  EXPECT_FALSE(file.Commit(0755));
}

}  // namespace
