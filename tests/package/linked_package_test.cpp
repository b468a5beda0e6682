#include "package/linked_package.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/file.h"
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
  EXPECT_EQ(all.substr(all.size() - 32, 20), std::string("LINK FILE 1.00\0\0CRC1", 20));
  EXPECT_EQ(all.substr(all.size() - 8), std::string(8, '\0'));

  EXPECT_TRUE(fwp::HasLinkedPackage(exe));
  EXPECT_EQ(fwp::ExtractLinkedPackage(exe, dir / "out.fwp"), 833448);
  EXPECT_EQ(rawpkg::Read(dir / "out.fwp"), package);
  EXPECT_EQ(fwp::AppendLinkedPackage(dir / "missing", dir / "pkg.fwp"), -1);
}

// The checksum is zlib's CRC-32, whose check value is that of "123456789".
TEST(LinkedPackage, TheTrailerCarriesTheCrc32OfThePackage) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  rawpkg::Write(exe, "EXE");
  rawpkg::Write(dir / "pkg.fwp", "123456789");
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "pkg.fwp"), 9);
  const std::string all = rawpkg::Read(exe);
  EXPECT_EQ(all.substr(all.size() - 12, 4), "\x26\x39\xF4\xCB");

  const fwp::LinkedPackage found = fwp::FindLinkedPackage(exe);
  EXPECT_EQ(found.checksum, 0xCBF43926u);
  platform::File out = platform::File::Open(dir / "out", platform::File::Mode::kCreateTruncate);
  const fwp::LinkedCopy copy = fwp::CopyLinkedPackage(exe, found, out);
  EXPECT_EQ(copy.length, 9);
  EXPECT_EQ(copy.checksum, fwp::ChecksumState::kGood);
  EXPECT_EQ(rawpkg::Read(dir / "out"), "123456789");

  // Applications made before the checksum have zeros behind the trailer text.
  rawpkg::Write(exe, "EXEPKG" + rawpkg::LE32(3) + "LINK FILE 1.00" + std::string(18, '\0'));
  EXPECT_FALSE(fwp::FindLinkedPackage(exe).checksum);
  platform::TempFile old = fwp::ExtractLinkedPackageToTemp(exe, fwp::FindLinkedPackage(exe));
  ASSERT_TRUE(old.IsOpen());
  EXPECT_EQ(rawpkg::Read(old.Path()), "PKG");
}

// Whatever byte of an update application's end changes, its package comes out as it was
// made or not at all; a change inside the package is named as damage.
TEST(LinkedPackage, ADamagedApplicationNeverYieldsAChangedPackage) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  const std::string package = Bytes(700, 7);
  rawpkg::Write(dir / "pkg.fwp", package);
  rawpkg::Write(exe, "EXE");
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "pkg.fwp"), 700);
  const std::string made = rawpkg::Read(exe);

  for (size_t at = 3; at < made.size(); ++at) {
    SCOPED_TRACE("byte " + std::to_string(at));
    std::string damaged = made;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
    rawpkg::Write(exe, damaged);
    std::string problem;
    platform::TempFile copy =
        fwp::ExtractLinkedPackageToTemp(exe, fwp::FindLinkedPackage(exe), &problem);
    if (copy.IsOpen()) {
      ASSERT_EQ(rawpkg::Read(copy.Path()), package);
    } else if (at < 3 + package.size()) {
      ASSERT_NE(problem.find("the update application is damaged"), std::string::npos) << problem;
      ASSERT_NE(problem.find("fetch the update application again"), std::string::npos);
    }
  }
  // A byte lost inside the package shifts it against its length field.
  rawpkg::Write(exe, made.substr(0, 200) + made.substr(201));
  EXPECT_EQ(fwp::ExtractLinkedPackage(exe, dir / "out"), -1);
  // Cut anywhere, an application carries no package at all.
  for (size_t cut = 0; cut < made.size(); ++cut) {
    rawpkg::Write(exe, made.substr(0, cut));
    ASSERT_FALSE(fwp::FindLinkedPackage(exe).found) << cut;
  }
  EXPECT_EQ(TempFilesIn(dir.path()), 0u);
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
