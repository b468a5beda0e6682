// The one reader of the package layout. Pure functions of bytes: they touch no file and
// allocate nothing larger than the bytes they are given, so the package object, the
// probes, fwp-tool and the fuzzers all read a package the same way and describe the
// same damage in the same words.
//
// Every length read from a record is checked against the record's end, and the record's
// end against the file's end, before anything is taken from the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "package/package_format.h"

namespace fwp {

// The header fields, each text taken up to its first zero byte.
struct PackageHeader {
  bool hasMagic = false;  // the magic test: "OP FILE 1.00" followed by a zero byte
  bool complete = false;  // all 2048 header bytes were there
  int64_t size = 0;       // header bytes given (at most 2048)
  std::string magic;
  int8_t packMode = 0;
  std::string printerName;
  std::string versionLabel;
  std::string packageKind;
};

// Reads the header from the first bytes of a file (any number; the fields of a shorter
// file read as if it were zero-filled to 2048 bytes).
PackageHeader ParseHeader(std::span<const uint8_t> bytes);

// Why a header cannot start a package ("" when it can): no magic, or cut short.
std::string HeaderProblem(const PackageHeader& header);

// The fields of one item record. Offsets count from the start of the file.
struct RecordFields {
  int64_t offset = 0;  // of RecordSize
  uint32_t recordSize = 0;
  std::string type, commands, mode, fileName;  // taken up to their first zero byte
  uint64_t creationTime = 0, lastAccessTime = 0, lastWriteTime = 0;
  int64_t dataOffset = 0;  // of the item data
  int64_t dataLength = 0;  // D
  // U of packed item data that is long enough to hold it.
  std::optional<uint32_t> unpackedLength;

  int64_t End() const { return offset + 4 + recordSize; }
  bool operator==(const RecordFields&) const = default;
};

struct RecordStep {
  enum Kind {
    kRecord,     // record holds the next record; the one after starts at record.End()
    kEndMarker,  // a zero RecordSize that ends exactly at the end of the file
    kEndOfFile,  // offset is the end of the file: the last record ended there
    kNeedMore,   // bytes must hold at least `needed` bytes from offset on; call again
    kDamaged,    // see problem
  };
  Kind kind = kDamaged;
  RecordFields record;
  int64_t needed = 0;
  std::string problem;  // "record at offset N: ..."
};

// Reads the record that starts at offset in a package of fileSize bytes. bytes holds
// the file's bytes from offset on, as many as the caller has at hand: when they are all
// the rest of the file, the answer is never kNeedMore. packMode is the header's: the
// record of a packed item also gets its U when D holds it.
RecordStep ParseRecord(std::span<const uint8_t> bytes, int64_t offset, int64_t fileSize,
                       int8_t packMode);

// A record's FileName must name a file below the work folder: relative, no ".."
// component, and a last component that names a file.
bool IsSafeItemName(const std::string& name);

// Why packed item data of dataLength bytes (D) cannot be unpacked ("" when it can): it
// lacks U, or its coded bytes cannot yield U bytes, or U passes the limit of one item.
std::string PackedDataProblem(int64_t dataLength, std::optional<uint32_t> unpackedLength);

// The number of bytes an item extracts to: D when stored, U when packed, 0 for any other
// pack mode and for packed data that cannot be unpacked.
int64_t UnpackedSize(const RecordFields& record, int8_t packMode);

// Why a package cannot be extracted whole because two of its items would land in one
// file ("" when none do): two records whose FileNames end in the same name, letter case
// ignored (the package object looks names up so, and a folder part is not kept).
std::string DuplicateNameProblem(const std::vector<RecordFields>& records);

// The bytes all items extract to together (each as UnpackedSize).
int64_t TotalUnpackedSize(const std::vector<RecordFields>& records, int8_t packMode);

// The most a package object extracts from one package, all items together.
inline constexpr int64_t kMaxPackageUnpacked = int64_t{1} << 30;
// The largest package file the updater takes (1 GiB): its items may unpack to no more,
// and stored or packed they take about as much room in the file. Checked before anything
// of it is read or copied.
inline constexpr int64_t kMaxPackageSize = kMaxPackageUnpacked;
// Why a package of size bytes, called name in the words, is refused ("" when it is not):
// "NAME is N bytes (X MiB), more than the 1073741824 bytes (1024.0 MiB) a package may be".
std::string PackageSizeProblem(const std::string& name, int64_t size);

// The largest item a package object unpacks whole in memory.
inline constexpr int64_t kMaxPackedItemSize = int64_t{1} << 30;
// The decoder reads and writes a little past its data: both buffers get this much more.
inline constexpr int64_t kCodecPad = 512;

}  // namespace fwp
