// --check and the package line of --version: what an update would make of a package,
// told without a printer.
#include "terminal/package_check_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "json_collect.h"
#include "package/linked_package.h"
#include "package/package_scan.h"
#include "terminal/json_line.h"
#include "workflow_fixture.h"

namespace apptest {
namespace {

class PackageCheckTest : public WorkflowTest {
 public:
  int Check(const std::optional<std::string>& file) {
    out.str({});
    err.str({});
    return app::RunPackageCheck(exe, file, out, err);
  }
  int CheckJson(const std::optional<std::string>& file) {
    out.str({});
    err.str({});
    return app::RunPackageCheck(exe, file, out, err, true);
  }
  std::ostringstream out, err;
};

TEST_F(PackageCheckTest, ASoundPackageIsReadyWithItsSectionsAndFlashTime) {
  fwp::PackageHeaderFields header;
  header.versionLabel = "Spring 2.1";
  const std::string package = WritePackage(
      {Item("frw", "fw.bin", Bytes(3000)), Item("system", "sys.bin", Bytes(327680))}, header);
  EXPECT_EQ(Check(package), 0) << err.str();
  EXPECT_NE(out.str().find("version \"Spring 2.1\""), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("section system: 327680 bytes, 1 block of up to 1 MiB\n"),
            std::string::npos);
  // 660 paced pieces of 20 ms, the 5 s start and two 500 ms settles; the image and the
  // hex text on the wire.
  EXPECT_NE(out.str().find("flash time: 19.8 s"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("ready for the printer\n"), std::string::npos);
  EXPECT_THAT(LeftOvers(), ::testing::ElementsAre());
}

// An update application checks the package it carries, as the update copies it out.
TEST_F(PackageCheckTest, AnUpdateApplicationChecksItsOwnPackage) {
  EXPECT_EQ(Check(std::nullopt), 1);
  EXPECT_NE(err.str().find("carries no linked package"), std::string::npos) << err.str();
  EXPECT_EQ(app::LinkedPackageVersionLine(exe), "");

  fwp::PackageHeaderFields header;
  header.versionLabel = "Autumn\x01";
  const std::string package = WritePackage({Item("frw", "fw.bin", Bytes(100))}, header);
  ASSERT_GT(fwp::AppendLinkedPackage(exe, package), 0);
  EXPECT_EQ(Check(std::nullopt), 0) << err.str();
  EXPECT_NE(out.str().find("package of "), std::string::npos);
  EXPECT_NE(out.str().find(" bytes, checksum good, program checksum good\n"), std::string::npos)
      << out.str();
  EXPECT_EQ(app::LinkedPackageVersionLine(exe), "package version: Autumn\\x01");

  std::fstream file(exe, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(4096 + 2100);
  file.put('\x5A');
  file.close();
  EXPECT_EQ(Check(std::nullopt), 1);
  EXPECT_EQ(err.str().rfind("Error: Error fwp data!\n  the update application is damaged", 0), 0u)
      << err.str();
  EXPECT_THAT(LeftOvers(), ::testing::ElementsAre());
}

// What the update refuses of its own package, --check refuses in the same words, naming
// the application: a damaged trailer, an empty package, a damaged program part.
TEST_F(PackageCheckTest, ADamagedUpdateApplicationIsRefusedAsTheUpdateRefusesIt) {
  const std::string program = [&] {
    std::ifstream in(exe, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  const std::string tail = "LINK FILE 1.00" + std::string(18, '\0');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {program + std::string(4, '\0') + tail, "the package linked to " + exe + " is empty"},
      {program + std::string("\xFF\xFF\x00\x00", 4) + tail,
       "the update application is damaged: its trailer gives the linked package a length of "
       "65535 bytes"},
  };
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason);
    std::ofstream(exe, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(Check(std::nullopt), 1);
    EXPECT_EQ(err.str().rfind("Error: Error fwp data!\n  " + reason, 0), 0u) << err.str();
  }
  EXPECT_EQ(app::LinkedPackageVersionLine(exe),
            "package version: (the update application is damaged: fetch it again)");

  std::ofstream(exe, std::ios::binary | std::ios::trunc) << program;
  ASSERT_GT(fwp::AppendLinkedPackage(exe, WritePackage({Item("frw", "fw.bin", Bytes(100))})), 0);
  std::fstream file(exe, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(10);
  file.put('\x5A');
  file.close();
  EXPECT_EQ(Check(std::nullopt), 1);
  EXPECT_NE(err.str().find("the CRC-32 of its program part is "), std::string::npos) << err.str();
  EXPECT_THAT(LeftOvers(), ::testing::ElementsAre());
}

// --check reads the package with the update's reader and decoder but writes no item
// file: 50,000 items take a fraction of a second where their extraction takes seconds.
TEST_F(PackageCheckTest, APackageOfManyItemsIsCheckedWithoutExtractingThem) {
  std::vector<fwp::ItemImage> items{Item("frw", "fw.bin", {1, 2, 3})};
  for (int i = 1; i < 50000; ++i)
    items.push_back(Item("font", "f" + std::to_string(i), {9}));
  const std::string package = WritePackage(items);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Check(package), 0) << err.str();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_NE(out.str().find("package: version \"\", stored, 50000 items\n"), std::string::npos);
  EXPECT_NE(out.str().find("firmware: fw.bin, 3 bytes\n"), std::string::npos);
  EXPECT_THAT(LeftOvers(), ::testing::ElementsAre());
}

TEST_F(PackageCheckTest, WhatAnUpdateWouldRefuseIsRefusedInItsWords) {
  fwp::PackageHeaderFields otherPrinter;
  otherPrinter.printerName = "LabelMaster";
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {WritePackage({Item("frw", "fw.bin", {1})}, otherPrinter, "other.fwp"), "Error fwp data!",
       "made for the printer \"LabelMaster\""},
      {(dir / "missing.fwp").string(), "Error fwp data!", "No such file or directory"},
      {(dir / "pipe.fwp").string(), "Error fwp data!", "pipe.fwp is not a regular file"},
      {WritePackage({Item("font", "f.bin", {1})}, {}, "nofrw.fwp"), "Can not Run FRW!",
       "no \"frw\" item"},
      {WritePackage({Item("frw", "fw.bin", Bytes((1 << 20) + 1))}, {}, "big.fwp"),
       "Can not Run FRW!", "more than the 1048576"},
  };
  ASSERT_EQ(::mkfifo((dir / "pipe.fwp").c_str(), 0600), 0);
  for (const auto& [package, text, reason] : cases) {
    SCOPED_TRACE(package);
    EXPECT_EQ(Check(package), 1);
    EXPECT_EQ(err.str().rfind("Error: " + text + "\n", 0), 0u) << err.str();
    EXPECT_NE(err.str().find(reason), std::string::npos) << err.str();
  }
  EXPECT_THAT(LeftOvers(), ::testing::ElementsAre());
}

// --check --json: one outcome on standard output, the report beside it; the findings with
// their kinds, the warnings, and the package's SHA-256, the same for a package file and
// for that package in an update application.
TEST_F(PackageCheckTest, AsJsonOneOutcomeWithTheFindings) {
  fwp::PackageHeaderFields packed;
  packed.packMode = fwp::kPackPacked;
  packed.versionLabel = "J1";
  const std::string package =
      WritePackage({Item("frw", "fw.bin", Bytes(29)), Item("font", "f.bin", Bytes(100))}, packed);
  {
    // The firmware's stream holds about 29 bytes; U says 2,048.
    const fwp::RecordFields record = fwp::ScanPackage(package).records.at(0);
    std::fstream file(package, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(record.dataOffset + 4);
    file.write("\x00\x08\x00\x00", 4);
  }
  std::string collected;
  const auto outcome = [&] {
    const std::string text = out.str();
    collected += text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    return app::ReadJsonLine(text);
  };
  const std::string warning = "of its 2048 bytes";
  EXPECT_EQ(CheckJson(package), 0) << err.str();
  app::Json ready = outcome();
  EXPECT_EQ(ready["status"], "success");
  EXPECT_EQ(ready["exit_status"], 0);
  EXPECT_EQ(ready["message"], "ready for the printer");
  EXPECT_EQ(ready["printer"], nullptr);
  EXPECT_EQ(ready["package"]["path"], package);
  EXPECT_EQ(ready["package"]["version"], "J1");
  EXPECT_EQ(ready["package"]["items"][0],
            app::Json({{"type", "frw"}, {"file", "fw.bin"}, {"size", 2048}}));
  ASSERT_EQ(ready["warnings"].size(), 1u);
  EXPECT_THAT(ready["warnings"][0].get<std::string>(), ::testing::HasSubstr(warning));
  ASSERT_EQ(ready["findings"].size(), 1u);
  EXPECT_EQ(ready["findings"][0]["kind"], "warning");
  // The report and the warning go to standard error.
  EXPECT_NE(err.str().find("ready for the printer\n"), std::string::npos);
  EXPECT_NE(err.str().find(warning), std::string::npos);
  const std::string sha256 = ready["package"]["sha256"];
  EXPECT_EQ(sha256.size(), 64u);

  ASSERT_GT(fwp::AppendLinkedPackage(exe, package), 0);
  EXPECT_EQ(CheckJson(std::nullopt), 0) << err.str();
  const app::Json linked = outcome();
  EXPECT_EQ(linked["package"]["path"], exe);
  EXPECT_EQ(linked["package"]["sha256"], sha256);

  EXPECT_EQ(CheckJson(WritePackage({Item("font", "f.bin", {1})}, {}, "nofrw.fwp")), 1);
  const app::Json refused = outcome();
  EXPECT_EQ(refused["status"], "failed");
  EXPECT_EQ(refused["exit_status"], 1);
  EXPECT_EQ(refused["message"], "Can not Run FRW!");
  EXPECT_EQ(refused["findings"],
            app::Json::array({{{"kind", "refused"}, {"text", "the package has no \"frw\" item"}}}));

  std::ofstream(dir / "notes.fwp") << "shopping list";
  EXPECT_EQ(CheckJson((dir / "notes.fwp").string()), 1);
  const app::Json damaged = outcome();
  EXPECT_EQ(damaged["message"], "Error fwp data!");
  EXPECT_EQ(damaged["findings"][0]["kind"], "damaged");
  EXPECT_EQ(damaged["package"]["items"], app::Json::array());
  jsoncollect::Collect(collected);
  EXPECT_THAT(LeftOvers(), ::testing::ElementsAre());
}

}  // namespace
}  // namespace apptest
