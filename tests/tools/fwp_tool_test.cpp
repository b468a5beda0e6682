// fwp-tool: build -> extract round trips, damaged packages, the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "package/linked_package.h"
#include "package/opfile.h"
#include "package/package_scan.h"
#include "package/package_writer.h"
#include "tools/fwp-tool/fwp_tool.h"
#include "tools/fwp-tool/manifest.h"
#include "workflow/firmware_step.h"
#include "workflow/update_check.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Result {
  int code;
  std::string out, err;
};

Result Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int code = fwptool::Run(args, out, err);
  return {code, out.str(), err.str()};
}

void WriteFile(const fs::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Access and write time in 100 ns ticks since 1601, read without touching the file.
std::pair<uint64_t, uint64_t> FileTimes(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  auto ticks = [](const timespec& t) {
    return static_cast<uint64_t>(t.tv_sec + 11644473600LL) * 10000000 +
           static_cast<uint64_t>(t.tv_nsec) / 100;
  };
  return {ticks(st.st_atim), ticks(st.st_mtim)};
}

// Every file and folder below root, as paths relative to it.
std::vector<std::string> Tree(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    entries.push_back(fs::relative(entry.path(), root).string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

Bytes Mixed(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes data;
  while (data.size() < size) {
    std::string line =
        "LINE " + std::to_string(rng() % 1000) + " value=" + std::to_string(rng() % 77) + "\r\n";
    data.insert(data.end(), line.begin(), line.end());
    for (int i = 0; i < 20; ++i)
      data.push_back(static_cast<uint8_t>(rng() % 8 * 17));
  }
  data.resize(size);
  return data;
}

class FwpToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("fwp_tool_test." + std::to_string(std::random_device()()));
    fs::create_directories(root_ / "items");
    frw_ = Mixed(4096, 1);
    system_ = Mixed(300 * 1024, 2);
    font_ = Bytes(65536, 0x3C);
    WriteFile(root_ / "items/frw.bin", frw_);
    WriteFile(root_ / "items/system.bin", system_);
    WriteFile(root_ / "items/empty.bin", {});
    WriteFile(root_ / "items/font.bin", font_);
    WriteFile(root_ / "items/small.bin", Mixed(700, 3));
    WriteText(root_ / "items/pkg.manifest", R"(# test package
version = "Release 2.0 "
[item]
type = frw
file = frw.bin
mode = 1
commands = CONNECT
commands += START FRW\tX
ctime = 2020-02-03T04:05:06Z
atime = 2021-03-04T05:06:07.1234567Z
mtime = 2022-04-05T06:07:08.7654321Z
[item]
type = system
file = system.bin
name = sys.img
mode = 0
atime = 2019-01-01
mtime = 133000000000000000
[item]
type = empty
file = empty.bin
[item]
type = font
file = font.bin
mode = 0
)");
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  Result Build(const std::string& output, std::vector<std::string> extra) {
    // The test package holds an item of a type the updater does not use.
    std::vector<std::string> args{"build", "--allow-any", "--manifest", Path("items/pkg.manifest"),
                                  Path(output)};
    args.insert(args.end(), extra.begin(), extra.end());
    return Tool(args);
  }

  fs::path root_;
  Bytes frw_, system_, font_;
};

class RoundTrip : public FwpToolTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RoundTrip, ExtractGivesBackBytesModesCommandsAndTimes) {
  const fs::path empty = root_ / "items/empty.bin";
  const auto emptyTimes = FileTimes(empty);
  ASSERT_EQ(Build("pkg.fwp", {GetParam()}).code, 0);
  const Result extract = Tool({"extract", "-v", Path("pkg.fwp"), Path("out/deeper")});
  ASSERT_EQ(extract.code, 0) << extract.err;

  // Times first: reading a file may move its access time.
  EXPECT_EQ(FileTimes(root_ / "out/deeper/frw.bin"),
            std::make_pair(*fwptool::ParseFileTime("2021-03-04T05:06:07.1234567Z"),
                           *fwptool::ParseFileTime("2022-04-05T06:07:08.7654321Z")));
  EXPECT_EQ(FileTimes(root_ / "out/deeper/sys.img"),
            std::make_pair(*fwptool::ParseFileTime("2019-01-01"), uint64_t{133000000000000000}));
  EXPECT_EQ(FileTimes(root_ / "out/deeper/empty.bin").second, emptyTimes.second);

  EXPECT_EQ(ReadFile(root_ / "out/deeper/frw.bin"), frw_);
  EXPECT_EQ(ReadFile(root_ / "out/deeper/sys.img"), system_);
  EXPECT_TRUE(ReadFile(root_ / "out/deeper/empty.bin").empty());
  EXPECT_EQ(ReadFile(root_ / "out/deeper/font.bin"), font_);

  std::istringstream lines(extract.out);
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);)
    got.push_back(line);
  ASSERT_EQ(got.size(), 12u) << extract.out;
  EXPECT_EQ(got[0], "4096 frw frw.bin");
  EXPECT_EQ(got[1], R"(  mode "1" commands "CONNECT\r\nSTART FRW\tX")");
  EXPECT_EQ(got[2],
            "  created 2020-02-03T04:05:06.0000000Z, accessed 2021-03-04T05:06:07.1234567Z, "
            "written 2022-04-05T06:07:08.7654321Z");
  EXPECT_EQ(got[3], "307200 system sys.img");
  EXPECT_EQ(got[4], R"(  mode "0" commands "")");
  EXPECT_EQ(got[6], "0 empty empty.bin");
  EXPECT_EQ(got[9], "65536 font font.bin");
}

INSTANTIATE_TEST_SUITE_P(PackModes, RoundTrip, ::testing::Values("--stored", "--packed"));

TEST_F(FwpToolTest, ListShowsHeaderAndRecordsWithoutExtracting) {
  ASSERT_EQ(Build("pkg.fwp", {"--packed", "--printer", "P2", "--kind", "Fonts"}).code, 0);
  const auto before = Tree(root_);
  const Result list = Tool({"list", Path("pkg.fwp")});
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(Tree(root_), before);
  for (const char* expected :
       {"magic \"OP FILE 1.00\"\n", "pack mode 1 (packed)\n", "printer \"P2\"\n",
        "version \"Release 2.0 \"\n", "kind \"Fonts\"\n", "item 2 at ",
        "type \"system\" name \"sys.img\" mode \"0\"\n", ", U 307200\n",
        "commands \"CONNECT\\r\\nSTART FRW\\tX\"\n", "end: four zero bytes at "}) {
    EXPECT_NE(list.out.find(expected), std::string::npos) << expected << "\n" << list.out;
  }
}

struct Damage {
  const char* what;
  std::vector<std::string> options;
  bool listFails;
};

TEST_F(FwpToolTest, DamagedPackagesFailCleanlyAndStayInTheirFolder) {
  WriteText(root_ / "items/escape.manifest",
            "[item]\ntype = a\nfile = frw.bin\nname = ../escape.bin\n"
            "[item]\ntype = b\nfile = frw.bin\nname = sub/../../escape2.bin\n"
            "[item]\ntype = c\nfile = frw.bin\nname = /abs.bin\n");
  // Field offsets of the first record, taken from the sound package.
  ASSERT_EQ(Build("probe.fwp", {}).code, 0);
  const fwp::RecordFields first = fwp::ScanPackage(Path("probe.fwp")).records.at(0);
  const auto at = [](int64_t offset, const char* hex) {
    return std::to_string(offset) + ":" + hex;
  };
  const int64_t nameLength =
      first.dataOffset - 24 - static_cast<int64_t>(first.fileName.size()) - 4;
  const int64_t unpackedLength = first.dataOffset + 4;
  const std::vector<Damage> damages = {
      {"huge RecordSize", {"--stored", "--patch", "2048:FFFFFFFF"}, true},
      {"RecordSize short of the fields", {"--stored", "--patch", "2048:08000000"}, true},
      {"huge TypeLength", {"--stored", "--patch", "2052:FFFFFF7F"}, true},
      {"huge unpacked length", {"--packed", "--patch", at(unpackedLength, "FFFFFFFF")}, false},
      {"unpacked length beyond its data",
       {"--packed", "--patch", at(unpackedLength, "00001000")},
       false},
      {"zero RecordSize before the end", {"--stored", "--patch", "2048:00000000"}, true},
      {"empty file name", {"--stored", "--patch", at(nameLength, "00000000")}, true},
      {"unknown pack mode", {"--pack-mode", "2"}, false},
      {"negative pack mode", {"--pack-mode", "-1"}, false},
      {"not a package", {"--magic", "OP FILE 1.01"}, true},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    fs::remove_all(root_ / "box");
    fs::create_directories(root_ / "box");
    ASSERT_EQ(Build("box/pkg.fwp", damage.options).code, 0);
    const Result extract = Tool({"extract", Path("box/pkg.fwp"), Path("box/out")});
    EXPECT_EQ(extract.code, 1);
    EXPECT_EQ(extract.err.rfind("fwp-tool extract: ", 0), 0u) << extract.err;
    EXPECT_EQ(Tool({"list", Path("box/pkg.fwp")}).code, damage.listFails ? 1 : 0);
    for (const std::string& entry : Tree(root_ / "box")) {
      EXPECT_TRUE(entry == "pkg.fwp" || entry.rfind("out", 0) == 0) << entry;
    }
  }
  fs::remove_all(root_ / "box");
  fs::create_directories(root_ / "box");
  ASSERT_EQ(Tool({"build", "--allow-any", "--unsafe-names", "-m", Path("items/escape.manifest"),
                  Path("box/pkg.fwp")})
                .code,
            0);
  EXPECT_EQ(Tool({"extract", Path("box/pkg.fwp"), Path("box/a/out")}).code, 1);
  EXPECT_EQ(Tree(root_ / "box"), (std::vector<std::string>{"a", "a/out", "pkg.fwp"}));
}

TEST_F(FwpToolTest, ItemsSharingAFileNameAreReported) {
  WriteText(root_ / "items/twice.manifest",
            "[item]\ntype = system\nfile = system.bin\nname = same.bin\n"
            "[item]\ntype = font\nfile = font.bin\nname = SAME.bin\n");
  ASSERT_EQ(Tool({"build", "-m", Path("items/twice.manifest"), Path("twice.fwp")}).code, 0);
  const Result list = Tool({"list", Path("twice.fwp")});
  EXPECT_EQ(list.code, 1);
  EXPECT_NE(list.out.find("name \"SAME.bin\""), std::string::npos) << list.out;
  EXPECT_NE(list.err.find("share the file name \"same.bin\" (as \"SAME.bin\")"), std::string::npos)
      << list.err;
  const Result extract = Tool({"extract", Path("twice.fwp"), Path("out")});
  EXPECT_EQ(extract.code, 1);
  EXPECT_NE(extract.err.find("share the file name \"same.bin\""), std::string::npos) << extract.err;
  EXPECT_TRUE(fs::is_empty(root_ / "out"));
}

// The target folder may hold links that someone planted to have an item written, or
// deleted, elsewhere.
TEST_F(FwpToolTest, ExtractNeverFollowsALinkBelowItsTarget) {
  WriteText(root_ / "items/paths.manifest",
            "[item]\ntype = a\nfile = frw.bin\nname = sub/x.bin\n"
            "[item]\ntype = b\nfile = frw.bin\nname = real/y.bin\n"
            "[item]\ntype = c\nfile = frw.bin\nname = planted.bin\n");
  ASSERT_EQ(Tool({"build", "--allow-any", "--unsafe-names", "-m", Path("items/paths.manifest"),
                  Path("p.fwp")})
                .code,
            0);
  fs::create_directories(root_ / "out/real");
  fs::create_directories(root_ / "elsewhere");
  WriteText(root_ / "victim.txt", "keep");
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "out/sub");
  fs::create_symlink(root_ / "victim.txt", root_ / "out/planted.bin");

  const Result extract = Tool({"extract", Path("p.fwp"), Path("out")});
  EXPECT_EQ(extract.code, 1);
  EXPECT_NE(extract.out.find("-1 a x.bin\n"), std::string::npos) << extract.out;
  EXPECT_NE(extract.out.find("4096 b y.bin\n"), std::string::npos) << extract.out;
  EXPECT_NE(extract.out.find("-1 c planted.bin\n"), std::string::npos) << extract.out;
  EXPECT_TRUE(fs::is_empty(root_ / "elsewhere"));
  EXPECT_EQ(ReadFile(root_ / "victim.txt"), Bytes({'k', 'e', 'e', 'p'}));
  EXPECT_EQ(ReadFile(root_ / "out/real/y.bin"), frw_);
}

TEST_F(FwpToolTest, TruncatedAnywhereFailsCleanly) {
  for (const char* mode : {"--stored", "--packed"}) {
    ASSERT_EQ(Tool({"build", "--allow-any", mode, "--item",
                    "frw:" + Path("items/small.bin") + ":1:A\\r\\nB", "--item",
                    "x:" + Path("items/empty.bin"), Path("whole.fwp")})
                  .code,
              0);
    const Bytes whole = ReadFile(root_ / "whole.fwp");
    // Cut at the start of a record or of the end marker, a package is whole but shorter.
    std::vector<size_t> boundaries{2048};
    for (const auto& record : fwp::ScanPackage(Path("whole.fwp")).records) {
      boundaries.push_back(static_cast<size_t>(record.offset + 4 + record.recordSize));
    }
    std::vector<size_t> cuts{0, 12, 13, 1000, 2047};
    for (size_t cut = 2048; cut < whole.size(); ++cut)
      cuts.push_back(cut);
    for (size_t cut : cuts) {
      SCOPED_TRACE(std::string(mode) + " cut at " + std::to_string(cut));
      fs::remove_all(root_ / "box");
      fs::create_directories(root_ / "box");
      WriteFile(root_ / "box/cut.fwp", Bytes(whole.begin(), whole.begin() + cut));
      const int expected =
          std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end() ? 0 : 1;
      const Result extract = Tool({"extract", Path("box/cut.fwp"), Path("box/out")});
      ASSERT_EQ(extract.code, expected) << extract.err;
      ASSERT_EQ(Tool({"list", Path("box/cut.fwp")}).code, expected);
      for (const std::string& entry : Tree(root_ / "box")) {
        ASSERT_TRUE(entry == "cut.fwp" || entry.rfind("out", 0) == 0) << entry;
      }
    }
  }
}

TEST_F(FwpToolTest, CommandLineMistakesExitTwo) {
  const std::vector<std::vector<std::string>> mistakes = {
      {},
      {"frobnicate"},
      {"build"},
      {"build", "a.fwp", "b.fwp"},
      {"build", "--bogus", "a.fwp"},
      {"build", "--item", "frw", "a.fwp"},
      {"build", "--pack-mode", "300", "a.fwp"},
      {"build", "--patch", "12:ABC", "a.fwp"},
      {"build", "a.fwp", "--printer"},
      {"list"},
      {"extract", "a.fwp"},
      {"extract", "-x", "a.fwp", "dir"},
      {"pack", "a"},
  };
  for (const auto& args : mistakes) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(r.err.find("fwp-tool --help"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Tool({"--help"}).code, 0);
}

TEST_F(FwpToolTest, BuildProblemsNameTheirCauseAndLeaveNoPackage) {
  const std::vector<std::pair<std::string, std::string>> manifests = {
      {"[item]\ntype = a\nfile = frw.bin\ncolour = red\n", "pkg.manifest:4: unknown item key"},
      {"[item]\ntype = a\n", "pkg.manifest:1: [item] without file="},
      {"[item]\nfile = frw.bin\n[item]\n", "pkg.manifest:1: [item] without type="},
      {"[item]\ntype = a\nfile = frw.bin\nmtime = 2023-02-29\n", "pkg.manifest:4: bad time"},
      {"[item]\ntype = a\nfile = missing.bin\n", "missing.bin: No such file or directory"},
      {"[item]\ntype = a\nfile = frw.bin\nname = a/b\n", "must be a plain file name"},
      {"printer = 123456789012345678901234567890123\n", "printer name is longer than 32"},
      {"pack = sometimes\n", "pkg.manifest:1: pack must be"},
  };
  for (const auto& [text, message] : manifests) {
    WriteText(root_ / "items/pkg.manifest", text);
    const Result r = Build("pkg.fwp", {});
    EXPECT_EQ(r.code, 1) << text;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(root_ / "pkg.fwp"));
  }
  EXPECT_EQ(
      Tool({"build", "--item", "frw:" + Path("items/frw.bin"), Path("no/such/dir/p.fwp")}).code, 1);
}

TEST_F(FwpToolTest, EveryCommandAnswersHelpAndNamesAMissingFile) {
  for (const std::string command : {"build", "list", "verify", "extract", "pack"}) {
    for (const char* help : {"--help", "-h"}) {
      const Result r = Tool({command, help});
      EXPECT_EQ(r.code, 0) << command << r.err;
      EXPECT_EQ(r.out.rfind("Usage: fwp-tool " + command, 0), 0u) << r.out;
    }
  }
  const std::string missing = Path("missing.fwp");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"list", missing},
                                               {"verify", missing},
                                               {"extract", missing, Path("out")}}) {
    const Result r = Tool(args);
    EXPECT_EQ(r.code, 1) << args[0];
    EXPECT_NE(r.err.find("cannot open " + missing + ": No such file or directory"),
              std::string::npos)
        << r.err;
  }
  WriteText(root_ / "notes.txt", "not a package");
  EXPECT_EQ(Tool({"extract", Path("notes.txt"), Path("out")}).code, 1);
  EXPECT_FALSE(fs::exists(root_ / "out"));
}

// What the updater would refuse is refused when it is made, unless a test asks for it.
TEST_F(FwpToolTest, BuildRefusesUnknownTypesAndEmptyPackages) {
  const std::string item = Path("items/frw.bin");
  EXPECT_EQ(Tool({"build", Path("none.fwp")}).code, 2);
  const Result bogus = Tool({"build", "--item", "bogus:" + item, Path("bogus.fwp")});
  EXPECT_EQ(bogus.code, 1);
  EXPECT_NE(bogus.err.find("no item type \"bogus\""), std::string::npos) << bogus.err;
  WriteText(root_ / "items/empty.manifest", "version = 1\n");
  EXPECT_EQ(Tool({"build", "-m", Path("items/empty.manifest"), Path("empty.fwp")}).code, 1);
  EXPECT_FALSE(fs::exists(root_ / "bogus.fwp") || fs::exists(root_ / "empty.fwp"));

  EXPECT_EQ(Tool({"build", "--allow-any", "--item", "bogus:" + item, Path("bogus.fwp")}).code, 0);
  EXPECT_EQ(Tool({"build", "--allow-any", Path("empty.fwp")}).code, 0);
}

// list, verify and extract look inside an update application's package, and name the
// state of its checksums.
TEST_F(FwpToolTest, UpdateApplicationsAreReadThroughTheirTrailer) {
  ASSERT_EQ(Build("pkg.fwp", {"--packed"}).code, 0);
  const fs::path app = root_ / "pkg.run";
  WriteText(app,
            "\x7f"
            "ELF stand-in for the program");
  ASSERT_GT(fwp::AppendLinkedPackage(app.string(), Path("pkg.fwp")), 0);

  const Result list = Tool({"list", app.string()});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_NE(
      list.out.find(", checksum good, program checksum good\npackage linked to " + app.string()),
      std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("type \"system\" name \"sys.img\""), std::string::npos);
  EXPECT_EQ(Tool({"verify", app.string()}).code, 0);
  ASSERT_EQ(Tool({"extract", app.string(), Path("out")}).code, 0);
  EXPECT_EQ(ReadFile(root_ / "out/sys.img"), system_);

  Bytes damaged = ReadFile(app);
  damaged[damaged.size() - 36 - 100] ^= 0x08;
  WriteFile(app, damaged);
  EXPECT_EQ(Tool({"list", app.string()}).code, 1);
  const Result verify = Tool({"verify", app.string()});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.out.find("damaged: the update application is damaged"), std::string::npos)
      << verify.out;
  EXPECT_EQ(Tool({"extract", app.string(), Path("out2")}).code, 1);
  EXPECT_FALSE(fs::exists(root_ / "out2"));

  // A byte of the program part.
  damaged[damaged.size() - 36 - 100] ^= 0x08;
  damaged[5] ^= 0x08;
  WriteFile(app, damaged);
  const Result program = Tool({"verify", app.string()});
  EXPECT_EQ(program.code, 1);
  EXPECT_NE(program.out.find("damaged: the update application is damaged: the CRC-32 of its "
                             "program part is "),
            std::string::npos)
      << program.out;
  EXPECT_EQ(Tool({"extract", app.string(), Path("out2")}).code, 1);

  // A damaged checksum mark: unchecked, as an old application, and a warning.
  damaged[5] ^= 0x08;
  damaged[damaged.size() - 15] = 'r';
  WriteFile(app, damaged);
  const Result mark = Tool({"verify", app.string()});
  EXPECT_EQ(mark.code, 0) << mark.out;
  EXPECT_NE(mark.out.find("warning: the checksum mark in the update application's trailer is "
                          "damaged (it reads 43 72 43 31"),
            std::string::npos)
      << mark.out;
  EXPECT_NE(Tool({"list", app.string()}).err.find("warning: the checksum mark"), std::string::npos);

  // The trailer of an application made before the checksums: zeros behind its text.
  std::fill(damaged.end() - 16, damaged.end(), 0);
  WriteFile(app, damaged);
  EXPECT_NE(Tool({"list", app.string()}).out.find(", checksum none, program checksum none\n"),
            std::string::npos);
  const Result old = Tool({"verify", app.string()});
  EXPECT_EQ(old.code, 0);
  EXPECT_EQ(old.out.find("warning"), std::string::npos) << old.out;
}

// A trailer whose length does not fit its file is a damaged update application, and a
// package claimed larger than a package may be is refused where it lies (a sparse file
// of 3 GiB here): verify says so without copying anything out.
TEST_F(FwpToolTest, VerifyNamesADamagedOrOversizedApplication) {
  const std::string block = std::string("LINK FILE 1.00\0\0CRC1", 20) + std::string(12, '\0');
  Bytes file = {'a', 'b', 0xE8, 0x03, 0, 0};
  file.insert(file.end(), block.begin(), block.end());
  WriteFile(root_ / "broken.run", file);
  const Result broken = Tool({"verify", Path("broken.run")});
  EXPECT_EQ(broken.code, 1);
  EXPECT_NE(broken.out.find("damaged: the update application is damaged: its trailer gives the "
                            "linked package a length of 1000 bytes"),
            std::string::npos)
      << broken.out;
  EXPECT_NE(broken.out.find("fetch the update application again"), std::string::npos);
  EXPECT_NE(broken.out.find(Path("broken.run") + ": damaged\n"), std::string::npos);

  ASSERT_EQ(Build("pkg.fwp", {}).code, 0);
  const fs::path huge = root_ / "huge.run";
  Bytes program = {0x7f, 'E', 'L', 'F'};
  const Bytes package = ReadFile(root_ / "pkg.fwp");
  program.insert(program.end(), package.begin(), package.end());
  WriteFile(huge, program);
  fs::resize_file(huge, 4 + (uintmax_t{3} << 30));
  Bytes tail = {0, 0, 0, 0xC0};
  tail.insert(tail.end(), block.begin(), block.end());
  std::ofstream(huge, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
  const fs::path temp = root_ / "tmp";
  fs::create_directories(temp);
  setenv("TMPDIR", temp.c_str(), 1);
  const auto start = std::chrono::steady_clock::now();
  const Result refused = Tool({"verify", huge.string()});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  unsetenv("TMPDIR");
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.out.find("refused: the package linked to " + huge.string() +
                             " is 3221225472 bytes (3072.0 MiB), more than the 1073741824"),
            std::string::npos)
      << refused.out;
  EXPECT_TRUE(fs::is_empty(temp));
}

// Trailers that point outside their file, files shorter than a trailer, an update
// application cut anywhere: each command says so, makes no folder and leaves no copy.
TEST_F(FwpToolTest, BrokenUpdateApplicationsFailCleanly) {
  ASSERT_EQ(Tool({"build", "--item", "frw:" + Path("items/small.bin"), Path("pkg.fwp")}).code, 0);
  Bytes app = {0x7f, 'E', 'L', 'F'};
  WriteFile(root_ / "made.run", app);
  ASSERT_GT(fwp::AppendLinkedPackage(Path("made.run"), Path("pkg.fwp")), 0);
  const Bytes made = ReadFile(root_ / "made.run");
  const std::string block = std::string("LINK FILE 1.00\0\0CRC1", 20) + std::string(12, '\0');
  std::vector<std::pair<std::string, Bytes>> files = {
      {"length past the start", Bytes({'a', 'b', 0xE8, 0x03, 0, 0})},
      {"length of 4 GiB", Bytes({'a', 'b', 0xFF, 0xFF, 0xFF, 0xFF})},
      {"shorter than the trailer", {}},
      {"a trailer block alone", {}},
  };
  files[0].second.insert(files[0].second.end(), block.begin(), block.end());
  files[1].second.insert(files[1].second.end(), block.begin(), block.end());
  files[2].second.assign(block.begin(), block.begin() + 20);
  files[3].second.assign(block.begin(), block.end());
  for (size_t cut = 0; cut < made.size(); cut += cut + 300 < made.size() ? 37 : 1) {
    files.push_back({"cut at " + std::to_string(cut), Bytes(made.begin(), made.begin() + cut)});
  }
  const fs::path temp = root_ / "tmp";
  fs::create_directories(temp);
  setenv("TMPDIR", temp.c_str(), 1);
  for (const auto& [what, bytes] : files) {
    SCOPED_TRACE(what);
    WriteFile(root_ / "broken.run", bytes);
    for (const std::string command : {"list", "verify", "extract"}) {
      std::vector<std::string> args{command, Path("broken.run")};
      if (command == "extract") args.push_back(Path("out"));
      const Result r = Tool(args);
      ASSERT_EQ(r.code, 1) << command << r.out;
      ASSERT_NE(r.err + r.out, "") << command;
    }
    ASSERT_FALSE(fs::exists(root_ / "out"));
    ASSERT_TRUE(fs::is_empty(temp));
  }
  unsetenv("TMPDIR");
}

TEST_F(FwpToolTest, VerifyNamesEveryFinding) {
  // A stream that ends before its item: zeros at the end, a warning and no damage.
  ASSERT_EQ(Build("probe.fwp", {"--packed"}).code, 0);
  const fwp::RecordFields frw = fwp::ScanPackage(Path("probe.fwp")).records.at(0);
  const uint32_t longer = static_cast<uint32_t>(frw_.size()) + 100;
  std::string u = std::to_string(frw.dataOffset + 4) + ":";
  for (int i = 0; i < 4; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", (longer >> (8 * i)) & 0xFF);
    u += hex;
  }
  ASSERT_EQ(Build("short.fwp", {"--packed", "--patch", u, "--no-end-marker"}).code, 0);
  const Result shortStream = Tool({"verify", Path("short.fwp")});
  EXPECT_EQ(shortStream.code, 0) << shortStream.out;
  EXPECT_NE(shortStream.out.find("warning: item \"frw.bin\": its packed stream ends after"),
            std::string::npos)
      << shortStream.out;
  EXPECT_NE(shortStream.out.find("warning: no four zero bytes behind the last record"),
            std::string::npos);
  // Usable, but never "good".
  EXPECT_NE(shortStream.out.find(": usable, with warnings (2 warnings, 4 items)\n"),
            std::string::npos);
  EXPECT_EQ(shortStream.out.find("good"), std::string::npos);
  ASSERT_EQ(Tool({"extract", Path("short.fwp"), Path("out")}).code, 0);
  Bytes padded = frw_;
  padded.resize(longer, 0);
  EXPECT_EQ(ReadFile(root_ / "out/frw.bin"), padded);

  ASSERT_EQ(Build("other.fwp", {"--printer", "P2", "--patch", "2048:FFFFFF7F"}).code, 0);
  const Result other = Tool({"verify", Path("other.fwp")});
  EXPECT_EQ(other.code, 1);
  EXPECT_NE(other.out.find("refused: made for the printer \"P2\""), std::string::npos) << other.out;
  EXPECT_NE(other.out.find("damaged: record at offset 2048: RecordSize"), std::string::npos);
  EXPECT_NE(other.out.find(": damaged\n"), std::string::npos);
}

// verify answers as the update's one acceptance check does: no "frw" item, an empty one
// or one larger than the loader takes is refused, as the maker and --check refuse it.
TEST_F(FwpToolTest, VerifyRefusesWhatTheFirmwareStepRefuses) {
  WriteFile(root_ / "items/empty.bin", {});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--item", "font:" + Path("items/small.bin")}, "refused: the package has no \"frw\" item"},
      {{"--item", "frw:" + Path("items/empty.bin")},
       "refused: frw image empty.bin is empty: an empty image is never an update"},
  };
  for (const auto& [items, finding] : cases) {
    SCOPED_TRACE(finding);
    std::vector<std::string> args = {"build"};
    args.insert(args.end(), items.begin(), items.end());
    args.push_back(Path("p.fwp"));
    ASSERT_EQ(Tool(args).code, 0);
    const Result verify = Tool({"verify", Path("p.fwp")});
    EXPECT_EQ(verify.code, 1);
    EXPECT_NE(verify.out.find(finding + "\n"), std::string::npos) << verify.out;
    EXPECT_NE(verify.out.find(Path("p.fwp") + ": refused\n"), std::string::npos) << verify.out;
  }
}

// What verify says of a file matches what the updater's reader makes of it, for every
// sound and damaged file the fuzzers start from.
TEST_F(FwpToolTest, VerifyAgreesWithTheLoadOnEveryFuzzSeed) {
  const fs::path seeds = root_ / "seeds";
  ASSERT_EQ(std::system((std::string(SOURCE_DIR) + "/fuzz/make-seeds " + FWP_TOOL_PATH + " " +
                         seeds.string() + " >/dev/null 2>&1")
                            .c_str()),
            0);
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(seeds)) {
    if (!entry.is_regular_file() || entry.path().filename() == "stamp") continue;
    SCOPED_TRACE(fs::relative(entry.path(), seeds).string());
    ++files;
    // An update application's package is what the updater loads, when it comes out.
    std::string package = entry.path().string();
    const fwp::LinkedPackage linked = fwp::FindLinkedPackage(package);
    platform::TempFile copy;
    if (linked.found && !fwp::ProbePackageHeader(package).IsPackage()) {
      copy = fwp::ExtractLinkedPackageToTemp(package, linked);
      package = copy.Path();
    }
    fwp::TOPFile loaded;
    bool accepted = !package.empty() && loaded.Load(package);
    // ...and what its firmware step takes: a "frw" item that is not empty and fits.
    if (accepted) {
      const fwp::TFileBase* frw = app::FirstFirmwareItem(loaded);
      accepted = frw != nullptr &&
                 app::ImageRefusal(frw->FileName, static_cast<int64_t>(std::filesystem::file_size(
                                                      loaded.WorkFolder() + frw->FileName)))
                     .empty();
    }
    loaded.RemoveAllItems();
    const Result verify = Tool({"verify", entry.path().string()});
    EXPECT_EQ(verify.code == 0, accepted) << verify.out << verify.err;
  }
  EXPECT_GT(files, 30);
}

TEST(FwpToolText, EscapesAndTimes) {
  std::string text;
  ASSERT_TRUE(fwptool::Unescape(R"(a\r\n\t\0\\\"\x7F\xfe)", text));
  EXPECT_EQ(text, std::string("a\r\n\t\0\\\"\x7F\xFE", 9));
  EXPECT_EQ(fwptool::Escape(text), R"(a\r\n\t\x00\\\"\x7F\xFE)");
  for (const char* bad : {"\\", "\\q", "\\x4", "\\xg0"})
    EXPECT_FALSE(fwptool::Unescape(bad, text));

  EXPECT_EQ(fwptool::ParseFileTime("1601-01-01"), 0u);
  EXPECT_EQ(fwptool::ParseFileTime("1970-01-01T00:00:00Z"), 116444736000000000u);
  EXPECT_EQ(fwptool::ParseFileTime("1970-01-01 00:00:01.5"), 116444736015000000u);
  EXPECT_EQ(fwptool::ParseFileTime("42"), 42u);
  for (const char* bad : {"", "2023-02-29", "1600-12-31", "2024-13-01", "2024-01-01T24:00:00",
                          "2024-01-01T10:00", "2024-01-01T10:00:00.12345678", "-5"}) {
    EXPECT_FALSE(fwptool::ParseFileTime(bad)) << bad;
  }
  EXPECT_EQ(fwptool::FormatFileTime(116444736015000000u), "1970-01-01T00:00:01.5000000Z");
  EXPECT_EQ(fwptool::FormatFileTime(UINT64_MAX), std::to_string(UINT64_MAX));
  const uint64_t leap = *fwptool::ParseFileTime("2024-02-29T23:59:59.9999999Z");
  EXPECT_EQ(fwptool::FormatFileTime(leap), "2024-02-29T23:59:59.9999999Z");

  fwptool::ItemPlan item;
  std::string error;
  ASSERT_TRUE(fwptool::ParseItemShortcut("frw:a.bin:7:GO:NOW\\r\\nX", item, error));
  EXPECT_EQ(item.fields.commands, "GO:NOW\r\nX");
  EXPECT_EQ(item.fields.mode, "7");
  EXPECT_EQ(item.source, "a.bin");
}

TEST(PackageWriter, FileAndImageAgree) {
  const fs::path path =
      fs::temp_directory_path() / ("writer." + std::to_string(std::random_device()()));
  for (int8_t mode : {fwp::kPackStored, fwp::kPackPacked, int8_t{9}}) {
    fwp::PackageHeaderFields header;
    header.packMode = mode;
    header.versionLabel = "v";
    std::vector<fwp::ItemImage> items = {{{"frw", "A\r\nB", "1", "f.bin", 1, 2, 3}, Mixed(5000, 9)},
                                         {{"font", "", "", "g.bin", 4, 5, 6}, {}}};
    fwp::PackageWriter writer(path.string(), header);
    for (const auto& item : items)
      writer.AddItem(item.fields, item.data.data(), item.data.size());
    ASSERT_TRUE(writer.Finish(mode != 9));
    EXPECT_EQ(ReadFile(path), fwp::PackageImage(header, items, mode != 9));
  }
  fs::remove(path);
}

int RunProgram(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(FwpToolTest, ProgramAndSampleScript) {
  const std::string tool = FWP_TOOL_PATH;
  EXPECT_EQ(RunProgram(tool + " --help"), 0);
  EXPECT_EQ(RunProgram(tool + " frobnicate"), 2);
  EXPECT_EQ(RunProgram(tool + " extract " + Path("missing.fwp") + " " + Path("x")), 1);

  ASSERT_EQ(RunProgram(std::string(SOURCE_DIR) + "/scripts/make-sample-package " + tool + " " +
                       Path("sample")),
            0);
  for (const char* name : {"sample/sample.fwp", "sample/sample-stored.fwp"}) {
    const Result r = Tool({"extract", "-v", Path(name), Path(std::string(name) + ".out")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("16384 frw frw.bin\n  mode \"1\" commands \"CONNECT\\r\\nSTART FRW\"", 0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("\n327680 system system.bin\n"), std::string::npos);
    EXPECT_NE(r.out.find(" bootloader bootloader.bin\n"), std::string::npos);
    EXPECT_NE(r.out.find(" font font.bin\n"), std::string::npos);
  }
  EXPECT_EQ(ReadFile(root_ / "sample/sample.fwp.out/system.bin"),
            ReadFile(root_ / "sample/sample-stored.fwp.out/system.bin"));
}

}  // namespace
