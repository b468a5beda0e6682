#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "package/folder_tools.h"
#include "package/opfile.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path, const std::string& text = "x") {
  std::ofstream(path) << text;
}

TEST(WorkFolder, AutomaticFolderIsPrivateHiddenAndEmpty) {
  fwp::TOPFile a;
  fwp::TOPFile b;
  const std::string folder = a.WorkFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_EQ(fs::path(folder).parent_path().filename().string().front(), '.');
  EXPECT_NE(folder.find("_optfiles/"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_NE(a.WorkFolder(), b.WorkFolder());
}

TEST(WorkFolder, GoingAwayRemovesThePlaceholderAndAnEmptyFolder) {
  std::string folder;
  std::string placeholder;
  {
    fwp::TOPFile pkg;
    folder = pkg.WorkFolder();
    placeholder = folder.substr(0, folder.size() - std::string("_optfiles/").size());
    EXPECT_TRUE(fs::exists(placeholder));
  }
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(fs::exists(placeholder));

  // A folder that still holds files is kept: nothing is lost.
  {
    fwp::TOPFile pkg;
    folder = pkg.WorkFolder();
    Touch(folder + "left.bin");
  }
  EXPECT_TRUE(fs::exists(folder + "left.bin"));
  fs::remove_all(folder);
}

TEST(WorkFolder, MovingCarriesFilesAndRemovesTheOldFolder) {
  ScratchDir dir;
  fwp::TOPFile pkg;
  const std::string old = pkg.WorkFolder();
  Touch(old + "one.bin", "1");
  fs::create_directory(old + "sub");
  Touch(old + "sub/deep.bin");

  pkg.SetWorkFolder(dir / "moved");
  EXPECT_EQ(pkg.WorkFolder(), dir / "moved/");
  EXPECT_EQ(std::ifstream(dir / "moved/one.bin").get(), '1');
  EXPECT_FALSE(fs::exists(dir / "moved/sub"));  // only files move
  EXPECT_FALSE(fs::exists(old));

  pkg.SetWorkFolder(pkg.WorkFolder());  // the same text: nothing happens
  pkg.SetWorkFolder(dir / "moved");     // the same folder without its "/"
  EXPECT_EQ(pkg.WorkFolder(), dir / "moved/");
  EXPECT_TRUE(fs::exists(dir / "moved/one.bin"));
}

TEST(WorkFolder, AFolderThatWasGivenIsNeverRemoved) {
  ScratchDir dir;
  fs::create_directory(dir / "given");
  Touch(dir / "given/keep.bin");
  {
    fwp::TOPFile pkg;
    const std::string automatic = pkg.WorkFolder();
    pkg.SetWorkFolder(dir / "given");
    EXPECT_FALSE(fs::exists(automatic));  // the empty automatic folder went away
    pkg.SetWorkFolder("");
    pkg.ClearWorkFolder();
  }
  EXPECT_TRUE(fs::exists(dir / "given/keep.bin"));
}

TEST(FolderTools, DeleteCopyAndClear) {
  ScratchDir dir;
  fs::create_directories(dir / "src/sub");
  Touch(dir / "src/a");
  Touch(dir / "src/sub/b");
  fs::create_directory(dir / "outside");
  Touch(dir / "outside/kept");
  fs::create_directory_symlink(dir / "outside", dir / "src/link");

  fs::create_directory(dir / "dst");
  Touch(dir / "dst/a", "old");
  fwp::CopyFolderFiles(dir / "src", dir / "dst", true);
  EXPECT_EQ(std::ifstream(dir / "dst/a").get(), 'o');  // kept: failIfExists
  fwp::CopyFolderFiles(dir / "src", dir / "dst", false);
  EXPECT_EQ(std::ifstream(dir / "dst/a").get(), 'x');
  EXPECT_FALSE(fs::exists(dir / "dst/sub"));

  fwp::DeleteFolderFiles(dir / "src");
  EXPECT_FALSE(fs::exists(dir / "src/a"));
  EXPECT_TRUE(fs::exists(dir / "src/sub/b"));

  EXPECT_TRUE(fwp::DeleteFolderTree(dir / "src"));
  EXPECT_FALSE(fs::exists(dir / "src"));
  EXPECT_TRUE(fs::exists(dir / "outside/kept"));  // links are removed, not followed

  // An empty path names no folder, neither "/" nor the current one.
  const fs::path saved = fs::current_path();
  fs::current_path(dir.path());
  fwp::DeleteFolderTree("");
  fwp::DeleteFolderFiles("");
  fs::current_path(saved);
  EXPECT_TRUE(fs::exists(dir / "dst/a"));
  EXPECT_TRUE(fs::exists(dir / "outside/kept"));
}

}  // namespace
