#include "package/opfile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "package/file_time.h"
#include "package/probes.h"
#include "platform/file.h"
#include "platform/folder.h"
#include "raw_package.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using rawpkg::Item;

class PackageTest : public ::testing::Test {
 protected:
  // Extracted files stay until removed, so that the work folder goes with the object.
  void TearDown() override { pkg_.RemoveAllItems(); }

  std::string Package(const std::string& bytes) {
    std::string path = dir_ / "package.fwp";
    rawpkg::Write(path, bytes);
    return path;
  }
  std::string ItemFile(const std::string& name) { return rawpkg::Read(pkg_.WorkFolder() + name); }
  // Every file below the scratch folder (where packages are written) besides the package.
  size_t FilesBesideThePackage() {
    size_t count = 0;
    for (auto& entry : fs::recursive_directory_iterator(dir_.path())) {
      if (entry.path().filename() != "package.fwp") ++count;
    }
    return count;
  }

  ScratchDir dir_;
  fwp::TOPFile pkg_;
};

TEST_F(PackageTest, ProbesReadTheHeaderFields) {
  std::string path = Package(rawpkg::Header(0, "VRQPrinter", "Update"));
  EXPECT_TRUE(fwp::IsPackageFile(path));
  EXPECT_EQ(fwp::ReadPackagePrinterName(path), "VRQPrinter");
  EXPECT_EQ(fwp::ReadPackageKind(path), "Update");

  // Fields that fill their whole width come back whole, without a terminator.
  std::string full = rawpkg::Header(0, std::string(32, 'P'), std::string(1024, 'K'));
  path = Package(full);
  EXPECT_EQ(fwp::ReadPackagePrinterName(path), std::string(32, 'P'));
  EXPECT_EQ(fwp::ReadPackageKind(path), std::string(1024, 'K'));

  EXPECT_FALSE(fwp::IsPackageFile(dir_ / "missing.fwp"));
  EXPECT_EQ(fwp::ReadPackagePrinterName(dir_ / "missing.fwp"), "");
}

TEST_F(PackageTest, MagicMustEndWithAZeroByte) {
  std::string header = rawpkg::Header();
  header[12] = ' ';
  std::string path = Package(header);
  EXPECT_FALSE(fwp::IsPackageFile(path));
  EXPECT_FALSE(pkg_.Load(path));
  EXPECT_TRUE(pkg_.ItemNames().empty());

  EXPECT_FALSE(pkg_.Load(Package(rawpkg::Header().substr(0, 1000))));
  EXPECT_NE(pkg_.LoadError().find("header"), std::string::npos);

  EXPECT_FALSE(fwp::IsPackageFile(Package("OP FILE 1.00")));  // 12 bytes: no room for the zero
  EXPECT_TRUE(fwp::IsPackageFile(Package(std::string("OP FILE 1.00\0", 13))));
}

TEST_F(PackageTest, HeaderOnlyPackagesLoadWithOrWithoutTheEndMarker) {
  EXPECT_TRUE(pkg_.Load(Package(rawpkg::Header())));
  EXPECT_TRUE(pkg_.ItemNames().empty());
  EXPECT_TRUE(pkg_.Load(Package(rawpkg::Header() + rawpkg::LE32(0))));
  EXPECT_EQ(std::memcmp(pkg_.Header().data() + fwp::kPrinterNameOffset, "VRQPrinter", 10), 0);
}

TEST_F(PackageTest, StoredItemsComeOutWithTheirFieldsAndTimes) {
  Item frw{"frw", "CONNECT\r\nGO", "2", "fw.bin", std::string("\x01\x02\x00\x03", 4)};
  Item empty{"bootloader", "", "", "boot.bin", ""};
  Item system{"system", "", "7", "sys.bin", std::string(200000, 'S')};
  ASSERT_TRUE(pkg_.Load(Package(rawpkg::Header() + rawpkg::Record(frw) + rawpkg::Record(empty) +
                                rawpkg::Record(system) + rawpkg::LE32(0))))
      << pkg_.LoadError();

  ASSERT_EQ(pkg_.ItemNames(), (std::vector<std::string>{"fw.bin", "boot.bin", "sys.bin"}));
  const fwp::TFileBase* first = pkg_.ItemAt(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Status, 4);
  EXPECT_EQ(first->Type, "frw");
  EXPECT_EQ(first->Commands, "CONNECT\r\nGO");
  EXPECT_EQ(first->Mode, "2");
  EXPECT_EQ(first->CreationTime, frw.creation);
  EXPECT_EQ(ItemFile("fw.bin"), frw.data);

  // A record without Mode has an empty one, whatever the record before it had.
  EXPECT_EQ(pkg_.ItemAt(1)->Mode, "");
  EXPECT_EQ(pkg_.ItemAt(1)->Status, 0);
  EXPECT_EQ(ItemFile("boot.bin"), "");
  // Times first: reading the file may move its access time.
  struct stat st {};
  ASSERT_EQ(stat((pkg_.WorkFolder() + "sys.bin").c_str(), &st), 0);
  platform::FileTime write = fwp::FileTimeToUnix(system.write);
  platform::FileTime access = fwp::FileTimeToUnix(system.access);
  EXPECT_EQ(st.st_mtim.tv_sec, write.seconds);
  EXPECT_EQ(st.st_mtim.tv_nsec, write.nanoseconds);
  EXPECT_EQ(st.st_atim.tv_sec, access.seconds);
  EXPECT_EQ(ItemFile("sys.bin"), system.data);
}

// Two items extracted under one name would leave the first one's file holding the
// second one's bytes, and the update would send them as the first.
TEST_F(PackageTest, ItemsThatWouldShareAFileAreRefusedBeforeAnythingIsExtracted) {
  struct Case {
    std::string first, second, problem;
  } cases[] = {
      {"same.bin", "same.bin", "share the file name \"same.bin\""},
      {"Font.BIN", "font.bin", "share the file name \"Font.BIN\" (as \"font.bin\")"},
      {"sub/x.bin", "x.bin", "share the file name \"sub/x.bin\" (as \"x.bin\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    Item frw{"frw", "", "1", "fw.bin", "image"};
    Item a{"system", "", "", c.first, "first"};
    Item b{"font", "", "", c.second, "second"};
    const std::string package =
        rawpkg::Header() + rawpkg::Record(frw) + rawpkg::Record(a) + rawpkg::Record(b);
    EXPECT_FALSE(pkg_.Load(Package(package)));
    EXPECT_NE(pkg_.LoadError().find(c.problem), std::string::npos) << pkg_.LoadError();
    const std::string first = std::to_string(2048 + rawpkg::Record(frw).size());
    EXPECT_NE(pkg_.LoadError().find("records at offsets " + first + " and "), std::string::npos);
    EXPECT_TRUE(pkg_.ItemNames().empty());
    EXPECT_TRUE(fs::is_empty(pkg_.WorkFolder()));
  }
}

TEST_F(PackageTest, ThePackageMustFitTheLimitAndTheDisk) {
  // Two packed items of 600 MiB each, claimed by coded data just long enough to hold
  // them: the reader would allocate and write 1.2 GiB.
  const uint32_t claimed = 600u << 20;
  const std::string coded(claimed / 57 + 1, '\0');
  Item a{"system", "", "", "a.bin", rawpkg::LE32(0) + rawpkg::LE32(claimed) + coded};
  Item b{"font", "", "", "b.bin", a.data};
  EXPECT_FALSE(pkg_.Load(Package(rawpkg::Header(1) + rawpkg::Record(a) + rawpkg::Record(b))));
  EXPECT_NE(pkg_.LoadError().find("the items unpack to 1258291200 bytes (1200.0 MiB), more than "
                                  "the 1073741824 bytes (1024.0 MiB) a package may hold"),
            std::string::npos)
      << pkg_.LoadError();
  EXPECT_TRUE(pkg_.ItemNames().empty());
  EXPECT_TRUE(fs::is_empty(pkg_.WorkFolder()));

  Item small{"system", "", "", "s.bin", std::string(3000, 's')};
  platform::InjectFreeSpace(3000);
  const bool loadedWithRoom = pkg_.Load(Package(rawpkg::Header() + rawpkg::Record(small)));
  platform::InjectFreeSpace(-1);
  EXPECT_TRUE(loadedWithRoom) << pkg_.LoadError();
  EXPECT_TRUE(pkg_.RemoveAllItems());

  platform::InjectFreeSpace(2999);
  const bool loaded = pkg_.Load(Package(rawpkg::Header() + rawpkg::Record(small)));
  platform::InjectFreeSpace(-1);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(pkg_.LoadError(), "not enough free space in the work folder " + pkg_.WorkFolder() +
                                  ": the items need 3000 bytes, 2999 bytes are free");
  EXPECT_TRUE(fs::is_empty(pkg_.WorkFolder()));
}

TEST_F(PackageTest, PackedItemsAreUnpacked) {
  Item packed{"system", "", "", "sys.bin", rawpkg::Packed("packed payload")};
  Item empty{"font", "", "", "font.bin", rawpkg::Packed("")};
  ASSERT_TRUE(
      pkg_.Load(Package(rawpkg::Header(1) + rawpkg::Record(packed) + rawpkg::Record(empty))))
      << pkg_.LoadError();
  EXPECT_EQ(pkg_.ItemAt(0)->Status, 14);
  EXPECT_EQ(ItemFile("sys.bin"), "packed payload");
  EXPECT_EQ(ItemFile("font.bin"), "");
}

// An encoder may stop once only zeros are left: the decoder's output starts zero-filled.
TEST_F(PackageTest, AStreamThatEndsEarlyLeavesZerosAtTheItemsEnd) {
  Item shortStream{"system", "", "", "sys.bin", rawpkg::Packed("abc", 200)};
  Item whole{"font", "", "", "font.bin", rawpkg::Packed("ok")};
  const std::string endMarker = rawpkg::LE32(0);
  ASSERT_TRUE(pkg_.Load(
      Package(rawpkg::Header(1) + rawpkg::Record(shortStream) + rawpkg::Record(whole) + endMarker)))
      << pkg_.LoadError();
  EXPECT_EQ(pkg_.ItemAt(0)->Status, 200);
  EXPECT_EQ(ItemFile("sys.bin"), "abc" + std::string(197, '\0'));
  ASSERT_EQ(pkg_.LoadWarnings().size(), 1u);
  EXPECT_NE(pkg_.LoadWarnings()[0].find("\"sys.bin\""), std::string::npos);
  EXPECT_NE(pkg_.LoadWarnings()[0].find("of its 200 bytes"), std::string::npos);

  ASSERT_TRUE(pkg_.Load(Package(rawpkg::Header(1) + rawpkg::Record(whole) + endMarker)));
  EXPECT_TRUE(pkg_.LoadWarnings().empty());
  // Without the end marker the package may have been cut at a record boundary.
  ASSERT_TRUE(pkg_.Load(Package(rawpkg::Header(1) + rawpkg::Record(whole))));
  ASSERT_EQ(pkg_.LoadWarnings().size(), 1u);
  EXPECT_NE(pkg_.LoadWarnings()[0].find("cut short"), std::string::npos);
}

TEST_F(PackageTest, DamagedPackedItemsAreRefusedWithoutAllocating) {
  struct Case {
    const char* what;
    std::string data;
  } cases[] = {
      {"claims more than its bits can hold", rawpkg::Packed("abc", 100000)},
      {"claims four gigabytes", rawpkg::Packed("abc", 0xFFFFFFFF)},
      {"runs into the output's capacity", rawpkg::Packed(std::string(1000, 'x'), 100)},
      {"lacks its length prefix", std::string("\0\0\0", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Item item{"system", "", "", "sys.bin", c.data};
    Item next{"font", "", "", "font.bin", rawpkg::Packed("ok")};
    EXPECT_FALSE(
        pkg_.Load(Package(rawpkg::Header(1) + rawpkg::Record(item) + rawpkg::Record(next))));
    EXPECT_FALSE(pkg_.LoadError().empty());
    ASSERT_EQ(pkg_.ItemNames().size(), 2u);
    EXPECT_EQ(pkg_.ItemAt(0)->Status, -1);
    EXPECT_EQ(pkg_.ItemAt(1)->Status, 2);  // the next record still comes out
  }
}

TEST_F(PackageTest, DamagedRecordsStopTheLoad) {
  const std::string good = rawpkg::Record({"frw", "", "1", "fw.bin", "image"});
  const std::string second = rawpkg::Record({"system", "", "", "sys.bin", std::string(1000, 'x')});
  std::string huge = rawpkg::Record({"system", "", "", "big.bin", "x"});
  huge.replace(4, 4, rawpkg::LE32(0x7FFFFFF0));  // TypeLength far beyond the record

  struct Case {
    const char* what;
    std::string tail;
  } cases[] = {
      {"last record cut inside its data", second.substr(0, second.size() - 10)},
      {"record size beyond the file", rawpkg::LE32(0x7FFFFFFF) + "abc"},
      {"length field beyond the record", huge},
      {"zero record size before the end", rawpkg::LE32(0) + second},
      {"record size cut short", std::string("\x05\x00", 2)},
      {"empty file name", rawpkg::LE32(44) + rawpkg::LE32(0) + rawpkg::LE32(0) + rawpkg::LE32(0) +
                              rawpkg::LE32(0) + std::string(28, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(pkg_.Load(Package(rawpkg::Header() + good + c.tail)));
    EXPECT_FALSE(pkg_.LoadError().empty());
    // What came before the damage stays extracted and listed.
    ASSERT_GE(pkg_.ItemNames().size(), 1u);
    EXPECT_EQ(ItemFile("fw.bin"), "image");
  }
}

TEST_F(PackageTest, NamesThatLeaveTheWorkFolderAreNeverWritten) {
  for (std::string name :
       {"../escape.bin", "/tmp/vrq-abs.bin", "a/../../up.bin", "dir/", "..", "sub/..", "./."}) {
    SCOPED_TRACE(name);
    Item bad{"system", "", "", name, "evil"};
    Item after{"font", "", "", "font.bin", "fine"};
    EXPECT_FALSE(
        pkg_.Load(Package(rawpkg::Header() + rawpkg::Record(bad) + rawpkg::Record(after))));
    ASSERT_EQ(pkg_.ItemNames().size(), 2u);
    EXPECT_EQ(pkg_.ItemAt(1)->Status, 4);
    EXPECT_EQ(FilesBesideThePackage(), 0u);
    EXPECT_FALSE(fs::exists("/tmp/vrq-abs.bin"));
    EXPECT_FALSE(
        fs::exists(fs::path(pkg_.WorkFolder()).parent_path().parent_path() / "escape.bin"));
    EXPECT_TRUE(pkg_.RemoveAllItems());
  }
  // The record keeps only the last component of a name with a folder part.
  Item nested{"system", "", "", "sub/deep.bin", "x"};
  pkg_.Load(Package(rawpkg::Header() + rawpkg::Record(nested)));
  ASSERT_EQ(pkg_.ItemNames().size(), 1u);
  EXPECT_EQ(pkg_.ItemAt(0)->FileName, "deep.bin");
}

TEST_F(PackageTest, UnknownPackModeExtractsEmptyFilesAndFails) {
  Item item{"system", "", "", "sys.bin", "data"};
  EXPECT_FALSE(pkg_.Load(Package(rawpkg::Header(5) + rawpkg::Record(item))));
  EXPECT_NE(pkg_.LoadError().find("pack mode"), std::string::npos);
  EXPECT_EQ(pkg_.ItemAt(0)->Status, 0);
  EXPECT_EQ(ItemFile("sys.bin"), "");
}

TEST_F(PackageTest, AFailedWriteMakesTheLoadFail) {
  Item item{"system", "", "", "sys.bin", std::string(100000, 'w')};
  std::string path = Package(rawpkg::Header() + rawpkg::Record(item));
  platform::InjectWriteFailureAfter(5000);
  const bool loaded = pkg_.Load(path);
  platform::InjectWriteFailureAfter(-1);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(pkg_.ItemAt(0)->Status, -1);
  EXPECT_NE(pkg_.LoadError().find("No space left"), std::string::npos) << pkg_.LoadError();
}

TEST_F(PackageTest, RemovingItemsDeletesTheirFilesButKeepsTheFolder) {
  Item a{"frw", "", "", "A.bin", "a"};
  Item b{"font", "", "", "b.bin", "b"};
  ASSERT_TRUE(pkg_.Load(Package(rawpkg::Header() + rawpkg::Record(a) + rawpkg::Record(b))));
  EXPECT_TRUE(pkg_.RemoveItem("a.BIN"));  // the list ignores case
  EXPECT_FALSE(fs::exists(pkg_.WorkFolder() + "A.bin"));
  EXPECT_EQ(pkg_.ItemNames(), std::vector<std::string>{"b.bin"});
  EXPECT_EQ(pkg_.FindItem("A.bin"), nullptr);
  EXPECT_FALSE(pkg_.RemoveItem("../package.fwp"));
  EXPECT_TRUE(fs::exists(dir_ / "package.fwp"));
  // Nor through a link in the work folder.
  fs::create_directory_symlink(dir_.path(), pkg_.WorkFolder() + "sub");
  EXPECT_FALSE(pkg_.RemoveItem("sub/package.fwp"));
  EXPECT_TRUE(fs::exists(dir_ / "package.fwp"));
  fs::remove(pkg_.WorkFolder() + "sub");

  EXPECT_TRUE(pkg_.RemoveAllItems());
  EXPECT_TRUE(pkg_.ItemNames().empty());
  EXPECT_TRUE(fs::is_empty(pkg_.WorkFolder()));
}

// User CPU time of this process, in seconds: what the package object's own work costs,
// whatever the file system and the machine's load add to the wall clock.
double UserSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
}

// Looking an item up, or forgetting it, must not walk the list: with 50,000 items that
// made a load take half a minute.
TEST_F(PackageTest, ManySmallItemsLoadAndGoAwayWithoutQuadraticWork) {
  constexpr int kCount = 50000;
  std::string package = rawpkg::Header();
  for (int i = 0; i < kCount; ++i) {
    package += rawpkg::Record({"font", "", "", "i" + std::to_string(i), "x"});
  }
  const std::string path = Package(package);
  const double start = UserSeconds();
  ASSERT_TRUE(pkg_.Load(path)) << pkg_.LoadError();
  ASSERT_EQ(pkg_.ItemNames().size(), size_t{kCount});
  for (size_t i = 0; i < kCount; i += 997) {
    EXPECT_EQ(pkg_.ItemAt(i)->FileName, "i" + std::to_string(i));
    EXPECT_EQ(pkg_.FindItem("i" + std::to_string(i)), pkg_.ItemAt(i));
  }
  EXPECT_TRUE(pkg_.RemoveItem("I25000"));
  EXPECT_EQ(pkg_.ItemAt(25000)->FileName, "i25001");
  EXPECT_TRUE(pkg_.RemoveAllItems());
  EXPECT_LT(UserSeconds() - start, 2.0);
  EXPECT_TRUE(fs::is_empty(pkg_.WorkFolder()));
}

TEST_F(PackageTest, LoadOfAMissingFileChangesNothing) {
  ASSERT_TRUE(pkg_.Load(Package(rawpkg::Header() + rawpkg::Record({"font", "", "", "f", "1"}))));
  EXPECT_FALSE(pkg_.Load(dir_ / "missing.fwp"));
  EXPECT_EQ(pkg_.ItemNames().size(), 1u);
  // The reason names the system's cause, never "not an update package".
  EXPECT_EQ(pkg_.LoadError(),
            "cannot open " + (dir_ / "missing.fwp") + ": No such file or directory");
  EXPECT_FALSE(pkg_.Load(dir_.path()));
  EXPECT_EQ(pkg_.LoadError(), dir_.path() + " is not a regular file");
  EXPECT_EQ(pkg_.ItemNames().size(), 1u);
  // A FIFO is refused at once, not waited on for a writer.
  ASSERT_EQ(::mkfifo((dir_ / "pipe.fwp").c_str(), 0600), 0);
  EXPECT_FALSE(pkg_.Load(dir_ / "pipe.fwp"));
  EXPECT_EQ(pkg_.LoadError(), (dir_ / "pipe.fwp") + " is not a regular file");
  EXPECT_EQ(pkg_.ItemNames().size(), 1u);
}

TEST(PackageHeader, ResetAndSetters) {
  fwp::TOPFile pkg;
  pkg.SetVersionLabel(std::string(600, 'v'));
  pkg.SetMagic("ZZ");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pkg.Header().data()), 12), "ZZ FILE 1.00");
  EXPECT_EQ(pkg.Header()[fwp::kVersionLabelOffset + 511], 'v');
  EXPECT_EQ(pkg.Header()[fwp::kVersionLabelOffset + 512], 0);
  pkg.Reset();
  EXPECT_EQ(pkg.Header()[0], 'O');
  EXPECT_EQ(pkg.Header()[fwp::kVersionLabelOffset], 0);
}

}  // namespace
