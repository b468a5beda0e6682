#include "package/linked_package.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/fs.h"
#include "raw_package.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 131 + seed) >> 3);
  return s;
}

size_t TempFilesIn(const std::string& folder) {
  size_t count = 0;
  for (auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("_^~", 0) == 0) ++count;
  }
  return count;
}

TEST(LinkedPackage, AppendWritesPackageLengthAndTrailer) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  const std::string package = Bytes(833448, 1);
  rawpkg::Write(exe, "EXECUTABLE");
  rawpkg::Write(dir / "pkg.fwp", package);

  EXPECT_EQ(fwp::AppendLinkedPackage(exe, dir / "pkg.fwp"), 833448);
  const std::string all = rawpkg::Read(exe);
  ASSERT_EQ(all.size(), 10u + 833484u);
  EXPECT_EQ(all.substr(10, package.size()), package);
  EXPECT_EQ(all.substr(10 + package.size(), 4), std::string("\xA8\xB7\x0C\x00", 4));
  EXPECT_EQ(all.substr(all.size() - 32), std::string("LINK FILE 1.00") + std::string(18, '\0'));

  EXPECT_TRUE(fwp::HasLinkedPackage(exe));
  EXPECT_EQ(fwp::ExtractLinkedPackage(exe, dir / "out.fwp"), 833448);
  EXPECT_EQ(rawpkg::Read(dir / "out.fwp"), package);
  EXPECT_EQ(fwp::AppendLinkedPackage(dir / "missing", dir / "pkg.fwp"), -1);
}

TEST(LinkedPackage, TheLastPackageWinsAndEmptyOnesWork) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  rawpkg::Write(exe, "EXE");
  rawpkg::Write(dir / "a.fwp", "first package");
  rawpkg::Write(dir / "b.fwp", "");
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "a.fwp"), 13);
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "b.fwp"), 0);
  EXPECT_EQ(fwp::ExtractLinkedPackage(exe, dir / "out"), 0);
  EXPECT_EQ(rawpkg::Read(dir / "out"), "");

  rawpkg::Write(dir / "c.fwp", "third");
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "c.fwp"), 5);
  const std::string temp = fwp::ExtractLinkedPackageToTemp(exe);
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(fs::path(temp).parent_path(), fs::path(dir.path()));
  EXPECT_EQ(rawpkg::Read(temp), "third");
}

TEST(LinkedPackage, TrailerTextDecidesNotTheBytesBehindIt) {
  ScratchDir dir;
  std::string tail = rawpkg::LE32(3) + "LINK FILE 1.00" + std::string(18, 'Q');
  rawpkg::Write(dir / "x", "exePKG" + tail);
  EXPECT_TRUE(fwp::HasLinkedPackage(dir / "x"));
  EXPECT_EQ(fwp::ExtractLinkedPackage(dir / "x", dir / "out"), 3);
  EXPECT_EQ(rawpkg::Read(dir / "out"), "PKG");
}

TEST(LinkedPackage, FilesWithoutAUsableTrailer) {
  ScratchDir dir;
  const std::string trailer = std::string("LINK FILE 1.00") + std::string(18, '\0');
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"no trailer", std::string(4096, 'e')},
      {"shorter than 36 bytes", trailer},
      {"length reaching before the file", "ab" + rawpkg::LE32(3) + trailer},
      {"huge length", "ab" + rawpkg::LE32(0xFFFFFFFF) + trailer},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string exe = dir / "exe";
    rawpkg::Write(exe, c.bytes);
    EXPECT_FALSE(fwp::HasLinkedPackage(exe));
    EXPECT_EQ(fwp::ExtractLinkedPackage(exe, dir / "out"), -1);
    EXPECT_EQ(fwp::ExtractLinkedPackageToTemp(exe), "");
    EXPECT_EQ(TempFilesIn(dir.path()), 0u);
  }
  EXPECT_FALSE(fwp::HasLinkedPackage(dir / "missing"));
}

// The update reads the trailer once and extracts from what it found, into a temporary
// file that its owner holds and deletes.
TEST(LinkedPackage, FoundOnceAndExtractedFromWhatWasFound) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  rawpkg::Write(
      exe, "EXE" + std::string("PKG") + rawpkg::LE32(3) + "LINK FILE 1.00" + std::string(18, '\0'));
  const fwp::LinkedPackage found = fwp::FindLinkedPackage(exe);
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.offset, 3);
  EXPECT_EQ(found.length, 3);
  {
    platform::TempFile extracted = fwp::ExtractLinkedPackageToTemp(exe, found);
    ASSERT_TRUE(extracted.IsOpen());
    EXPECT_EQ(platform::FolderOf(extracted.Path()), dir.path() + "/");
    EXPECT_EQ(rawpkg::Read(extracted.Path()), "PKG");
  }
  EXPECT_EQ(TempFilesIn(dir.path()), 0u);

  // A length that points before the start of the file is damage, not a package.
  rawpkg::Write(exe, "EXE" + rawpkg::LE32(4) + "LINK FILE 1.00" + std::string(18, '\0'));
  EXPECT_FALSE(fwp::FindLinkedPackage(exe).found);
  EXPECT_EQ(fwp::FindLinkedPackage(dir / "missing").error, ENOENT);
  EXPECT_FALSE(fwp::ExtractLinkedPackageToTemp(exe, fwp::FindLinkedPackage(exe)).IsOpen());
  EXPECT_EQ(TempFilesIn(dir.path()), 0u);
}

}  // namespace
