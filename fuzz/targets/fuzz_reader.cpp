// The package reader on arbitrary bytes held whole in memory; no files. Every record
// must lie inside the file, directly behind the one before it, with its fields inside
// the record; a reader that has all the bytes never asks for more, and one that has only
// part of them asks for more or gives the same answer.
#include <cstring>
#include <span>

#include "fuzz/targets/fuzz_files.h"
#include "package/package_reader.h"

namespace {

using fuzzing::Require;

void CheckRecord(const fwp::RecordFields& r, int64_t offset, int64_t size, int8_t packMode) {
  Require(r.offset == offset, "a record starts where the one before it ended");
  Require(r.recordSize > 0 && r.End() <= size, "a record lies inside the file");
  const int64_t texts =
      static_cast<int64_t>(r.type.size() + r.commands.size() + r.mode.size() + r.fileName.size());
  Require(r.dataOffset >= offset + 4 + 40 + texts, "the fields come before the data");
  Require(r.dataOffset + r.dataLength == r.End() && r.dataLength >= 0,
          "the data ends with the record");
  Require(!r.fileName.empty() && r.fileName.find('\0') == std::string::npos,
          "a record has a file name, taken up to its first zero byte");
  const bool holdsU = packMode == fwp::kPackPacked && r.dataLength >= 8;
  Require(r.unpackedLength.has_value() == holdsU, "U is read exactly when packed data holds it");
  const int64_t unpacked = fwp::UnpackedSize(r, packMode);
  Require(unpacked >= 0 && unpacked <= std::max<int64_t>(r.dataLength, fwp::kMaxPackedItemSize),
          "an item's size is bounded");
}

// The same record from a prefix of its bytes.
void CheckPartial(std::span<const uint8_t> rest, int64_t offset, int64_t size, int8_t packMode,
                  const fwp::RecordStep& whole) {
  const size_t given = rest.size() / 2;
  const fwp::RecordStep part = fwp::ParseRecord(rest.first(given), offset, size, packMode);
  if (part.kind == fwp::RecordStep::kNeedMore) {
    Require(part.needed > static_cast<int64_t>(given) &&
                part.needed <= static_cast<int64_t>(rest.size()),
            "a reader asks only for bytes that follow and that the file holds");
    return;
  }
  Require(part.kind == whole.kind && part.problem == whole.problem && part.record == whole.record,
          "part of the bytes gives the answer all of them give");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const fwp::PackageHeader header = fwp::ParseHeader(bytes);
  const bool magic = size >= 13 && std::memcmp(data, "OP FILE 1.00", 13) == 0;
  Require(header.hasMagic == magic, "the magic test");
  Require(header.printerName.size() <= fwp::kPrinterNameSize &&
              header.packageKind.size() <= fwp::kPackageKindSize,
          "header texts fit their fields");
  if (!fwp::HeaderProblem(header).empty()) return 0;

  const auto fileSize = static_cast<int64_t>(size);
  for (int64_t offset = fwp::kHeaderSize;;) {
    const auto rest = bytes.subspan(static_cast<size_t>(offset));
    const fwp::RecordStep step = fwp::ParseRecord(rest, offset, fileSize, header.packMode);
    Require(step.kind != fwp::RecordStep::kNeedMore, "all bytes at hand need no more");
    CheckPartial(rest, offset, fileSize, header.packMode, step);
    if (step.kind == fwp::RecordStep::kEndOfFile) Require(offset == fileSize, "end of file");
    if (step.kind == fwp::RecordStep::kEndMarker) Require(offset + 4 == fileSize, "end marker");
    if (step.kind == fwp::RecordStep::kDamaged) Require(!step.problem.empty(), "damage is named");
    if (step.kind != fwp::RecordStep::kRecord) return 0;
    CheckRecord(step.record, offset, fileSize, header.packMode);
    fwp::IsSafeItemName(step.record.fileName);
    offset = step.record.End();
  }
}
