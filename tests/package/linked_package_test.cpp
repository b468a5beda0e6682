#include "package/linked_package.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "package/package_check.h"
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
  // zlib.crc32(b"EXECUTABLE"): the program part's checksum, then four zero bytes.
  EXPECT_EQ(all.substr(all.size() - 8), std::string("\x3E\xC7\x11\xDD\0\0\0\0", 8));

  EXPECT_TRUE(fwp::HasLinkedPackage(exe));
  EXPECT_EQ(fwp::ExtractLinkedPackage(exe, dir / "out.fwp"), 833448);
  EXPECT_EQ(rawpkg::Read(dir / "out.fwp"), package);
  EXPECT_EQ(fwp::AppendLinkedPackage(dir / "missing", dir / "pkg.fwp"), -1);
}

// The checksums are zlib's CRC-32, whose check value is that of "123456789": here both
// the program part and the package.
TEST(LinkedPackage, TheTrailerCarriesTheCrc32OfThePackageAndOfTheProgram) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  rawpkg::Write(exe, "123456789");
  rawpkg::Write(dir / "pkg.fwp", "123456789");
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "pkg.fwp"), 9);
  const std::string all = rawpkg::Read(exe);
  EXPECT_EQ(all.substr(all.size() - 12, 8), "\x26\x39\xF4\xCB\x26\x39\xF4\xCB");

  const fwp::LinkedPackage found = fwp::FindLinkedPackage(exe);
  EXPECT_EQ(found.checksum, 0xCBF43926u);
  EXPECT_EQ(found.programChecksum, 0xCBF43926u);
  EXPECT_EQ(found.warning, "");
  platform::File out = platform::File::Open(dir / "out", platform::File::Mode::kCreateTruncate);
  const fwp::LinkedCopy copy = fwp::CopyLinkedPackage(exe, found, out);
  EXPECT_EQ(copy.length, 9);
  EXPECT_EQ(copy.checksum, fwp::ChecksumState::kGood);
  EXPECT_EQ(copy.programChecksum, fwp::ChecksumState::kGood);
  EXPECT_EQ(rawpkg::Read(dir / "out"), "123456789");
  EXPECT_TRUE(fwp::CheckLinkedChecksums(exe, found).Usable());

  // Applications made before the checksums have zeros behind the trailer text; those made
  // before the program's checksum, zeros in its place.
  const std::string tail = rawpkg::LE32(3) + "LINK FILE 1.00" + std::string(2, '\0');
  rawpkg::Write(exe, "EXEPKG" + tail + std::string(16, '\0'));
  EXPECT_FALSE(fwp::FindLinkedPackage(exe).checksum);
  platform::TempFile old = fwp::ExtractLinkedPackageToTemp(exe, fwp::FindLinkedPackage(exe));
  ASSERT_TRUE(old.IsOpen());
  EXPECT_EQ(rawpkg::Read(old.Path()), "PKG");
  rawpkg::Write(exe, "EXEPKG" + tail + "CRC1" + rawpkg::LE32(0x68C8B55Fu) + std::string(8, '\0'));
  const fwp::LinkedPackage packageOnly = fwp::FindLinkedPackage(exe);
  EXPECT_EQ(packageOnly.checksum, 0x68C8B55Fu);  // zlib.crc32(b"PKG")
  EXPECT_FALSE(packageOnly.programChecksum);
  const fwp::LinkedCopy checked = fwp::CheckLinkedChecksums(exe, packageOnly);
  EXPECT_EQ(checked.checksum, fwp::ChecksumState::kGood);
  EXPECT_EQ(checked.programChecksum, fwp::ChecksumState::kNone);
}

// A checksum mark that is neither "CRC1" nor zeros is no old application's trailer: the
// package is used unchecked, as an old one's, and the mark is named as damaged.
TEST(LinkedPackage, ADamagedChecksumMarkIsAWarning) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  rawpkg::Write(exe, "EXE");
  rawpkg::Write(dir / "pkg.fwp", "PKG");
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "pkg.fwp"), 3);
  std::string made = rawpkg::Read(exe);
  made[made.size() - 16] = 'X';  // "XRC1"
  made[made.size() - 4] = 0;     // zeros behind stay zeros
  rawpkg::Write(exe, made);
  const fwp::LinkedPackage found = fwp::FindLinkedPackage(exe);
  EXPECT_TRUE(found.found);
  EXPECT_FALSE(found.checksum);
  EXPECT_EQ(found.warning,
            "the checksum mark in the update application's trailer is damaged (it reads 58 52 43 "
            "31, not \"CRC1\"): its package and program are used unchecked");
  platform::TempFile copy = fwp::ExtractLinkedPackageToTemp(exe, found);
  ASSERT_TRUE(copy.IsOpen());
  EXPECT_EQ(rawpkg::Read(copy.Path()), "PKG");
}

// Whatever byte of an update application changes, its package comes out as it was made
// or not at all; a change inside the program part, the package or a checksum is named as
// damage.
TEST(LinkedPackage, ADamagedApplicationNeverYieldsAChangedPackage) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  const std::string package = Bytes(700, 7);
  rawpkg::Write(dir / "pkg.fwp", package);
  rawpkg::Write(exe, "EXE");
  ASSERT_EQ(fwp::AppendLinkedPackage(exe, dir / "pkg.fwp"), 700);
  const std::string made = rawpkg::Read(exe);

  for (size_t at = 0; at < made.size(); ++at) {
    SCOPED_TRACE("byte " + std::to_string(at));
    std::string damaged = made;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
    rawpkg::Write(exe, damaged);
    std::string problem;
    platform::TempFile copy =
        fwp::ExtractLinkedPackageToTemp(exe, fwp::FindLinkedPackage(exe), &problem);
    if (copy.IsOpen()) {
      ASSERT_EQ(rawpkg::Read(copy.Path()), package);
    } else if (at < 3 + package.size() || (at >= made.size() - 12 && at < made.size() - 4)) {
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
  // A flipped byte of the program part is named as such.
  std::string program = made;
  program[1] ^= 0x01;
  rawpkg::Write(exe, program);
  const fwp::LinkedCopy checked = fwp::CheckLinkedChecksums(exe, fwp::FindLinkedPackage(exe));
  EXPECT_EQ(checked.checksum, fwp::ChecksumState::kGood);
  EXPECT_EQ(checked.programChecksum, fwp::ChecksumState::kBad);
  EXPECT_NE(checked.problem.find("the update application is damaged: the CRC-32 of its program "
                                 "part is "),
            std::string::npos)
      << checked.problem;
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

// A file without the trailer text is no update application. One with it whose length
// field does not fit is a damaged one: no package comes out, and the reason says to
// fetch it again.
TEST(LinkedPackage, FilesWithoutAUsableTrailer) {
  ScratchDir dir;
  const std::string trailer = std::string("LINK FILE 1.00") + std::string(18, '\0');
  struct Case {
    const char* what;
    std::string bytes;
    const char* damage;  // "" for no update application
  } cases[] = {
      {"no trailer", std::string(4096, 'e'), ""},
      {"shorter than a trailer", trailer.substr(0, 31), ""},
      {"empty", "", ""},
      {"a trailer without its length field", "ab" + trailer, "is too short (34 bytes)"},
      {"length reaching before the file", "ab" + rawpkg::LE32(3) + trailer,
       "a length of 3 bytes, but only 2 bytes come before it"},
      {"huge length", "ab" + rawpkg::LE32(0xFFFFFFFF) + trailer, "a length of 4294967295 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string exe = dir / "exe";
    rawpkg::Write(exe, c.bytes);
    const fwp::LinkedPackage found = fwp::FindLinkedPackage(exe);
    EXPECT_FALSE(found.found);
    EXPECT_EQ(fwp::HasLinkedPackage(exe), *c.damage != '\0');
    EXPECT_EQ(found.marked, *c.damage != '\0');
    if (found.marked) {
      EXPECT_EQ(found.damage.rfind("the update application is damaged: ", 0), 0u) << found.damage;
      EXPECT_NE(found.damage.find(c.damage), std::string::npos) << found.damage;
      EXPECT_NE(found.damage.find("; fetch the update application again"), std::string::npos);
    }
    EXPECT_EQ(fwp::ExtractLinkedPackage(exe, dir / "out"), -1);
    EXPECT_EQ(fwp::ExtractLinkedPackageToTemp(exe), "");
    std::string problem;
    EXPECT_FALSE(fwp::ExtractLinkedPackageToTemp(exe, found, &problem).IsOpen());
    EXPECT_EQ(problem, found.damage);
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
  EXPECT_TRUE(fwp::FindLinkedPackage(exe).marked);
  EXPECT_EQ(fwp::FindLinkedPackage(dir / "missing").error, ENOENT);
  EXPECT_FALSE(fwp::ExtractLinkedPackageToTemp(exe, fwp::FindLinkedPackage(exe)).IsOpen());
  EXPECT_EQ(TempFilesIn(dir.path()), 0u);
}

// The header of a linked package is checked where it lies. A header that reads as
// another printer's because a byte of it changed is named as damage when the trailer
// carries a checksum.
TEST(LinkedPackage, TheHeaderIsCheckedWhereItLies) {
  ScratchDir dir;
  const std::string exe = dir / "app.run";
  auto make = [&](const std::string& package) {
    rawpkg::Write(exe, "EXE");
    rawpkg::Write(dir / "pkg.fwp", package);
    EXPECT_GT(fwp::AppendLinkedPackage(exe, dir / "pkg.fwp"), 0);
    return fwp::CheckLinkedHeader(exe, fwp::FindLinkedPackage(exe));
  };
  const fwp::LinkedHeaderCheck good = make(rawpkg::Header(0, "VRQPrinter", "Update", "v7"));
  EXPECT_EQ(good.problem, "");
  EXPECT_EQ(good.probe.header.versionLabel, "v7");
  EXPECT_EQ(make(rawpkg::Header(0, "LabelMaster", "Update")).problem,
            "the package linked to " + exe + " is made for the printer \"LabelMaster\", not " +
                "\"VRQPrinter\"");

  std::string damaged = rawpkg::Read(exe);
  damaged[3 + fwp::kPrinterNameOffset] = 'X';
  rawpkg::Write(exe, damaged);
  const std::string problem = fwp::CheckLinkedHeader(exe, fwp::FindLinkedPackage(exe)).problem;
  EXPECT_EQ(problem.rfind("the update application is damaged: the CRC-32 of its package is ", 0),
            0u)
      << problem;
  EXPECT_EQ(TempFilesIn(dir.path()), 0u);
}

}  // namespace
