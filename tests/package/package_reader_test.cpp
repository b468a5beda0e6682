#include "package/package_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <span>

#include "package/opfile.h"
#include "package/package_scan.h"
#include "raw_package.h"
#include "scratch_dir.h"

namespace {

using rawpkg::Item;

std::span<const uint8_t> Span(const std::string& bytes, size_t from = 0) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()) + from,
                                  bytes.size() - from);
}

// Every record of a package held whole in memory, as the fuzzer and the scan read it.
struct Parsed {
  std::vector<fwp::RecordFields> records;
  fwp::RecordStep last;
};

Parsed ParseAll(const std::string& file, int8_t packMode = 0) {
  Parsed parsed;
  int64_t offset = fwp::kHeaderSize;
  for (;;) {
    parsed.last = fwp::ParseRecord(Span(file, static_cast<size_t>(offset)), offset,
                                   static_cast<int64_t>(file.size()), packMode);
    if (parsed.last.kind != fwp::RecordStep::kRecord) return parsed;
    offset = parsed.last.record.End();
    parsed.records.push_back(parsed.last.record);
  }
}

TEST(PackageReader, RecordsComeOutWithTheirFieldsAndDataRange) {
  Item frw{"frw", "CONNECT\r\nGO", "2", "fw.bin", "image"};
  Item empty{"bootloader", "", "", "boot.bin", ""};
  const std::string file =
      rawpkg::Header() + rawpkg::Record(frw) + rawpkg::Record(empty) + rawpkg::LE32(0);
  const Parsed parsed = ParseAll(file);
  ASSERT_EQ(parsed.records.size(), 2u);
  EXPECT_EQ(parsed.last.kind, fwp::RecordStep::kEndMarker);

  const fwp::RecordFields& r = parsed.records[0];
  EXPECT_EQ(r.offset, 2048);
  EXPECT_EQ(r.type, "frw");
  EXPECT_EQ(r.commands, "CONNECT\r\nGO");
  EXPECT_EQ(r.mode, "2");
  EXPECT_EQ(r.fileName, "fw.bin");
  EXPECT_EQ(r.lastWriteTime, frw.write);
  EXPECT_EQ(file.substr(static_cast<size_t>(r.dataOffset), static_cast<size_t>(r.dataLength)),
            "image");
  EXPECT_FALSE(r.unpackedLength);
  EXPECT_EQ(parsed.records[1].dataLength, 0);

  // Without the end marker the last record ends the file.
  EXPECT_EQ(ParseAll(rawpkg::Header() + rawpkg::Record(frw)).last.kind,
            fwp::RecordStep::kEndOfFile);
  // Texts stop at their first zero byte, as the package object keeps them.
  Item zero{"sys\0tem", "", "", std::string("a.bin\0junk", 10), ""};
  zero.type = std::string("sys\0tem", 7);
  EXPECT_EQ(ParseAll(rawpkg::Header() + rawpkg::Record(zero)).records.at(0).fileName, "a.bin");
}

TEST(PackageReader, DamageIsNamedWithTheRecordAndTheField) {
  const std::string good = rawpkg::Record({"frw", "", "1", "fw.bin", "image"});
  std::string longType = rawpkg::Record({"system", "", "", "big.bin", "x"});
  longType.replace(4, 4, rawpkg::LE32(0x7FFFFFF0));
  const std::string shortOfTimes = rawpkg::LE32(20) + rawpkg::LE32(0) + rawpkg::LE32(0) +
                                   rawpkg::LE32(0) + rawpkg::LE32(1) + "n" + std::string(3, '\0');
  struct Case {
    std::string tail;
    const char* problem;
  } cases[] = {
      {rawpkg::LE32(0x7FFFFFFF) + "abc",
       "RecordSize 2147483647 runs past the end of the file (3 bytes left)"},
      {longType, "TypeLength 2147483632 runs past the record's end"},
      {shortOfTimes, "CreationTime runs past the record's end"},
      {rawpkg::LE32(0) + good, "zero RecordSize before the end of the file"},
      {std::string("\x05\x00", 2), "RecordSize cut short by the end of the file"},
      {rawpkg::LE32(44) + rawpkg::LE32(0) + rawpkg::LE32(0) + rawpkg::LE32(0) + rawpkg::LE32(0) +
           std::string(28, '\0'),
       "empty FileName"},
  };
  const int64_t at = 2048 + static_cast<int64_t>(good.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    const Parsed parsed = ParseAll(rawpkg::Header() + good + c.tail);
    EXPECT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(parsed.last.kind, fwp::RecordStep::kDamaged);
    EXPECT_EQ(parsed.last.problem,
              "record at offset " + std::to_string(at) + ": " + std::string(c.problem));
  }
}

// A reader fed only part of the bytes either asks for more (never for bytes beyond the
// record or the file) or gives exactly what it gives with all of them.
TEST(PackageReader, PartialBytesAskForMoreOrAgreeWithTheWhole) {
  Item packed{"system", std::string(3000, 'c'), "7", "sys.bin", rawpkg::Packed("payload")};
  Item cut = packed;
  cut.name = "cut.bin";
  const std::string record = rawpkg::Record(packed);
  std::string damaged = rawpkg::Record(cut);
  damaged.replace(4 + 4 + 6 + 4 + 3000 + 4 + 1, 4, rawpkg::LE32(99));  // FileNameLength
  for (const std::string& tail : {record, damaged}) {
    const std::string file = rawpkg::Header(1) + tail;
    const auto size = static_cast<int64_t>(file.size());
    const fwp::RecordStep whole = fwp::ParseRecord(Span(file, 2048), 2048, size, 1);
    ASSERT_NE(whole.kind, fwp::RecordStep::kNeedMore);
    for (size_t given = 0; given < tail.size(); ++given) {
      const fwp::RecordStep part = fwp::ParseRecord(Span(file, 2048).first(given), 2048, size, 1);
      if (part.kind == fwp::RecordStep::kNeedMore) {
        ASSERT_GT(part.needed, static_cast<int64_t>(given));
        ASSERT_LE(part.needed, static_cast<int64_t>(tail.size()));
        continue;
      }
      ASSERT_EQ(part.kind, whole.kind) << given;
      ASSERT_EQ(part.problem, whole.problem) << given;
      ASSERT_EQ(part.record.unpackedLength, whole.record.unpackedLength) << given;
    }
  }
  EXPECT_EQ(ParseAll(rawpkg::Header(1) + record, 1).records.at(0).unpackedLength, 7u);
}

// The fields themselves are tested through the probes (opfile_test.cpp).
TEST(PackageReader, ShortHeadersAndTheMagicTest) {
  const std::string header = rawpkg::Header(-3, std::string(32, 'P'), "Fonts", "v2");
  EXPECT_EQ(fwp::ParseHeader(Span(header)).packMode, -3);
  EXPECT_EQ(fwp::HeaderProblem(fwp::ParseHeader(Span(header))), "");
  const fwp::PackageHeader h = fwp::ParseHeader(Span(header.substr(0, 40)));
  EXPECT_TRUE(h.hasMagic);
  EXPECT_EQ(h.printerName, std::string(7, 'P'));  // the rest reads as zero
  EXPECT_EQ(fwp::HeaderProblem(h), "header cut short at 40 bytes");

  for (const std::string& bad : {std::string("OP FILE 1.00"), std::string("OP FILE 1.00 x"),
                                 std::string("OP FILE 1.0\0", 12), std::string()}) {
    EXPECT_FALSE(fwp::ParseHeader(Span(bad)).hasMagic) << bad;
  }
  EXPECT_EQ(fwp::HeaderProblem(fwp::ParseHeader({})), "no \"OP FILE 1.00\" header");
}

TEST(PackageReader, PackedDataLimits) {
  EXPECT_EQ(fwp::PackedDataProblem(8, 0u), "");
  EXPECT_EQ(fwp::PackedDataProblem(7, 0u), "packed data lacks its length prefix");
  EXPECT_EQ(fwp::PackedDataProblem(100, std::nullopt), "packed data lacks its length prefix");
  // 92 coded bytes can yield at most 92 * 8 * 1024 / 142 + 1024 = 6331 bytes.
  EXPECT_EQ(fwp::PackedDataProblem(100, 6331u), "");
  EXPECT_EQ(fwp::PackedDataProblem(100, 6332u),
            "packed data is damaged (92 coded bytes cannot hold 6332 bytes)");
  EXPECT_NE(fwp::PackedDataProblem(int64_t{1} << 30, (1u << 30) + 1), "");
}

TEST(PackageScan, LargeFieldsAndManyRecordsReadThroughTheWindow) {
  ScratchDir dir;
  std::string file = rawpkg::Header();
  Item big{"frw", std::string(200000, 'C'), "1", "big.bin", std::string(100000, 'D')};
  file += rawpkg::Record(big);
  for (int i = 0; i < 3000; ++i) {
    file += rawpkg::Record({"font", "", "", "f" + std::to_string(i), std::string(i % 7, 'x')});
  }
  rawpkg::Write(dir / "p.fwp", file);
  const fwp::PackageLayout layout = fwp::ScanPackage(dir / "p.fwp");
  EXPECT_TRUE(layout.Whole()) << layout.problem;
  EXPECT_EQ(layout.end, fwp::RecordStep::kEndOfFile);
  ASSERT_EQ(layout.records.size(), 3001u);
  EXPECT_EQ(layout.records[0].commands, big.commands);
  EXPECT_EQ(layout.records[3000].fileName, "f2999");
  EXPECT_EQ(layout.records, ParseAll(file).records);
  EXPECT_EQ(std::string(layout.headerImage.begin(), layout.headerImage.end()), rawpkg::Header());

  const fwp::PackageLayout missing = fwp::ScanPackage(dir / "missing.fwp");
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_FALSE(missing.Whole());
}

TEST(PackageProbe, TheCauseComesWithTheAnswer) {
  ScratchDir dir;
  rawpkg::Write(dir / "ok.fwp", rawpkg::Header(0, "VRQPrinter", "Update"));
  rawpkg::Write(dir / "other.fwp", rawpkg::Header(0, "vrqprinter", "Update"));
  rawpkg::Write(dir / "fonts.fwp", rawpkg::Header(0, "VRQPrinter", "Fonts"));
  rawpkg::Write(dir / "junk.fwp", "not a package");

  EXPECT_EQ(fwp::ProbePackageHeader(dir / "ok.fwp").ProblemFor("ok", "VRQPrinter", "Update"), "");
  const fwp::HeaderProbe missing = fwp::ProbePackageHeader(dir / "missing.fwp");
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_FALSE(missing.IsPackage());
  EXPECT_EQ(missing.ProblemFor("m.fwp", "VRQPrinter", "Update"),
            "cannot read m.fwp: No such file or directory");
  EXPECT_EQ(fwp::ProbePackageHeader(dir.path()).ProblemFor("d", "VRQPrinter", "Update"),
            "d is not a regular file");
  EXPECT_EQ(fwp::ProbePackageHeader(dir / "junk.fwp").ProblemFor("j", "VRQPrinter", "Update"),
            "j is not an update package (no \"OP FILE 1.00\" header)");
  EXPECT_EQ(fwp::ProbePackageHeader(dir / "other.fwp").ProblemFor("o", "VRQPrinter", "Update"),
            "o is made for the printer \"vrqprinter\", not \"VRQPrinter\"");
  EXPECT_EQ(fwp::ProbePackageHeader(dir / "fonts.fwp").ProblemFor("f", "VRQPrinter", "Update"),
            "f is a package of the kind \"Fonts\", not \"Update\"");
}

// What the header probe refuses before anything is loaded: nothing at all, more than a
// package may be (a sparse file: nothing of it is read), a header cut short.
TEST(PackageProbe, EmptyOversizedAndCutShortPackagesAreRefusedFromTheHeader) {
  ScratchDir dir;
  rawpkg::Write(dir / "empty.fwp", "");
  EXPECT_EQ(fwp::ProbePackageHeader(dir / "empty.fwp").ProblemFor("e", "VRQPrinter", "Update"),
            "e is empty");
  rawpkg::Write(dir / "huge.fwp", rawpkg::Header(0, "VRQPrinter", "Update"));
  std::filesystem::resize_file(dir / "huge.fwp", fwp::kMaxPackageSize + 1);
  EXPECT_EQ(fwp::ProbePackageHeader(dir / "huge.fwp").ProblemFor("h", "VRQPrinter", "Update"),
            "h is 1073741825 bytes (1024.0 MiB), more than the 1073741824 bytes (1024.0 MiB) a "
            "package may be");
  fwp::TOPFile package;
  EXPECT_FALSE(package.Load(dir / "huge.fwp"));
  EXPECT_NE(package.LoadError().find("more than the 1073741824 bytes"), std::string::npos);
  std::filesystem::resize_file(dir / "huge.fwp", fwp::kMaxPackageSize);
  EXPECT_EQ(fwp::ProbePackageHeader(dir / "huge.fwp").ProblemFor("h", "VRQPrinter", "Update"), "");
  rawpkg::Write(dir / "cut.fwp", rawpkg::Header(0, "VRQPrinter", "Update").substr(0, 100));
  EXPECT_EQ(fwp::ProbePackageHeader(dir / "cut.fwp").ProblemFor("c", "VRQPrinter", "Update"),
            "c: header cut short at 100 bytes");
}

}  // namespace
