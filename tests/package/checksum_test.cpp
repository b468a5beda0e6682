#include "package/checksum.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <memory>

#include "package/linked_package.h"
#include "raw_package.h"
#include "scratch_dir.h"

namespace {

constexpr char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// What coreutils' sha256sum says of a file.
std::string Sha256sum(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(("sha256sum '" + path + "'").c_str(), "r"),
                                             pclose);
  std::array<char, 65> digits{};
  if (!pipe || fread(digits.data(), 1, 64, pipe.get()) != 64) return "sha256sum failed";
  return digits.data();
}

// 1 MiB and a bit: more than one read chunk, and not a whole number of them.
std::string Pattern() {
  std::string bytes((1 << 20) + 333, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  return bytes;
}

TEST(Sha256, KnownVectorsPiecewiseAndAfterADigest) {
  EXPECT_EQ(fwp::Sha256Hex("", 0), kEmpty);
  EXPECT_EQ(fwp::Sha256Hex("abc", 3), kAbc);
  const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(fwp::Sha256Hex(twoBlocks.data(), twoBlocks.size()),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

  fwp::Sha256 hash;
  for (char c : twoBlocks)
    hash.Update(&c, 1);
  EXPECT_EQ(hash.HexDigest(), fwp::Sha256Hex(twoBlocks.data(), twoBlocks.size()));
  hash.Update("abc", 3);  // a digest starts the hash again
  EXPECT_EQ(hash.HexDigest(), kAbc);
}

TEST(Sha256, OfAFileAsSha256sumSaysAndOfTheSamePackageLinked) {
  ScratchDir dir;
  const std::string package = Pattern();
  rawpkg::Write(dir / "pkg.fwp", package);
  rawpkg::Write(dir / "empty", "");
  rawpkg::Write(dir / "app.run", "THE PROGRAM PART");

  const fwp::FileSha256 whole = fwp::Sha256OfFile(dir / "pkg.fwp");
  EXPECT_EQ(whole.problem, "");
  EXPECT_EQ(whole.hex, Sha256sum(dir / "pkg.fwp"));
  EXPECT_EQ(whole.hex, fwp::Sha256Hex(package.data(), package.size()));
  EXPECT_EQ(fwp::Sha256OfFile(dir / "empty").hex, kEmpty);

  ASSERT_EQ(fwp::AppendLinkedPackage(dir / "app.run", dir / "pkg.fwp"),
            static_cast<int64_t>(package.size()));
  const fwp::LinkedPackage linked = fwp::FindLinkedPackage(dir / "app.run");
  ASSERT_TRUE(linked.found);
  const fwp::FileSha256 inPlace =
      fwp::Sha256OfFileRange(dir / "app.run", linked.offset, linked.length);
  EXPECT_EQ(inPlace.problem, "");
  EXPECT_EQ(inPlace.hex, whole.hex);
  EXPECT_EQ(fwp::Sha256OfFileRange(dir / "app.run", 4, 3).hex, fwp::Sha256Hex("PRO", 3));
  EXPECT_EQ(fwp::Sha256OfFileRange(dir / "app.run", linked.offset, 0).hex, kEmpty);
}

TEST(Sha256, FailuresSayWhyAndGiveNoDigest) {
  ScratchDir dir;
  rawpkg::Write(dir / "short", "0123456789");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

  const fwp::FileSha256 past = fwp::Sha256OfFileRange(dir / "short", 4, 7);
  EXPECT_EQ(past.hex, "");
  EXPECT_EQ(past.problem, dir / "short" + " ends before the 7 bytes at offset 4");
  EXPECT_NE(fwp::Sha256OfFileRange(dir / "short", 11, 1).problem, "");
  EXPECT_NE(fwp::Sha256OfFileRange(dir / "short", -1, 1).problem, "");
  EXPECT_NE(fwp::Sha256OfFileRange(dir / "short", 0, -1).problem, "");

  const fwp::FileSha256 missing = fwp::Sha256OfFile(dir / "missing");
  EXPECT_EQ(missing.hex, "");
  EXPECT_EQ(missing.problem, "cannot open " + dir / "missing" + ": No such file or directory");
  // Neither waits for a writer nor reads a folder.
  EXPECT_EQ(fwp::Sha256OfFile(dir / "pipe").problem, dir / "pipe" + " is not a regular file");
  EXPECT_EQ(fwp::Sha256OfFile(dir.path()).problem, dir.path() + " is not a regular file");
}

}  // namespace
