#include "package/package_reader.h"

#include <array>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "package/text.h"

#include "codec/_lib_kbtapp.h"

namespace fwp {
namespace {

std::string TextUpToZero(const uint8_t* data, size_t size) {
  const void* zero = std::memchr(data, 0, size);
  const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
  return std::string(reinterpret_cast<const char*>(data), length);
}

// Walks the fields of one record in order. A field that would pass the record's end
// damages the record; a field past the bytes at hand asks for more.
class FieldCursor {
 public:
  FieldCursor(std::span<const uint8_t> bytes, int64_t offset, int64_t recordEnd)
      : bytes_(bytes), base_(offset), pos_(offset + 4), end_(recordEnd) {}

  bool Word(const char* field, uint32_t& value) {
    const uint8_t* at = Take(field, 4);
    if (at != nullptr) value = GetLE32(at);
    return at != nullptr;
  }
  bool Time(const char* field, uint64_t& value) {
    const uint8_t* at = Take(field, 8);
    if (at != nullptr) value = GetLE64(at);
    return at != nullptr;
  }
  bool Text(const char* field, std::string& text) {
    const std::string lengthField = std::string(field) + "Length";
    uint32_t length = 0;
    if (!Word(lengthField.c_str(), length)) return false;
    if (length > end_ - pos_) {
      return Damaged(lengthField + " " + std::to_string(length) + " runs past the record's end");
    }
    const uint8_t* at = Take(field, length);
    if (at != nullptr) text = TextUpToZero(at, length);
    return at != nullptr;
  }

  int64_t Position() const { return pos_; }
  // The bytes from the start of the record that the cursor must see to go on, or 0.
  int64_t Needed() const { return needed_; }
  const std::string& Problem() const { return problem_; }

  bool Damaged(const std::string& problem) {
    problem_ = problem;
    return false;
  }

 private:
  const uint8_t* Take(const char* field, int64_t size) {
    if (size > end_ - pos_) {
      Damaged(std::string(field) + " runs past the record's end");
      return nullptr;
    }
    const int64_t through = pos_ + size - base_;
    if (through > static_cast<int64_t>(bytes_.size())) {
      needed_ = through;
      return nullptr;
    }
    const uint8_t* at = bytes_.data() + (pos_ - base_);
    pos_ += size;
    return at;
  }

  std::span<const uint8_t> bytes_;
  int64_t base_;
  int64_t pos_;
  int64_t end_;
  int64_t needed_ = 0;
  std::string problem_;
};

RecordStep Damaged(int64_t offset, const std::string& problem) {
  RecordStep step;
  step.kind = RecordStep::kDamaged;
  step.problem = "record at offset " + std::to_string(offset) + ": " + problem;
  return step;
}

RecordStep NeedMore(int64_t needed) {
  RecordStep step;
  step.kind = RecordStep::kNeedMore;
  step.needed = needed;
  return step;
}

RecordStep Ended(RecordStep::Kind kind) {
  RecordStep step;
  step.kind = kind;
  return step;
}

// Fills the fields after RecordSize; false when the cursor stopped.
bool ReadFields(FieldCursor& cursor, RecordFields& record) {
  return cursor.Text("Type", record.type) && cursor.Text("Commands", record.commands) &&
         cursor.Text("Mode", record.mode) && cursor.Text("FileName", record.fileName) &&
         cursor.Time("CreationTime", record.creationTime) &&
         cursor.Time("LastAccessTime", record.lastAccessTime) &&
         cursor.Time("LastWriteTime", record.lastWriteTime);
}

// The most bytes `coded` bytes of window-codec stream can yield: the densest token is a
// longest copy in kMaxCopyTokenBits bits, and one more token may run into the padding.
int64_t MaxUnpackedFrom(int64_t coded) {
  return coded * 8 * codec::MAX_WND_SIZE / codec::kMaxCopyTokenBits + codec::MAX_WND_SIZE;
}

}  // namespace

bool HasMagic(const uint8_t* data, int64_t size) {
  return size > static_cast<int64_t>(kMagic.size()) &&
         std::memcmp(data, kMagic.data(), kMagic.size()) == 0 && data[kMagic.size()] == 0;
}

PackageHeader ParseHeader(std::span<const uint8_t> bytes) {
  std::array<uint8_t, kHeaderSize> image{};
  const size_t size = std::min(bytes.size(), image.size());
  if (size > 0) std::memcpy(image.data(), bytes.data(), size);
  PackageHeader header;
  header.size = static_cast<int64_t>(size);
  header.complete = size == kHeaderSize;
  header.hasMagic = HasMagic(image.data(), header.size);
  header.magic = TextUpToZero(image.data() + kMagicOffset, kMagicSize);
  header.packMode = static_cast<int8_t>(image[kPackModeOffset]);
  header.printerName = TextUpToZero(image.data() + kPrinterNameOffset, kPrinterNameSize);
  header.versionLabel = TextUpToZero(image.data() + kVersionLabelOffset, kVersionLabelSize);
  header.packageKind = TextUpToZero(image.data() + kPackageKindOffset, kPackageKindSize);
  return header;
}

std::string HeaderProblem(const PackageHeader& header) {
  if (!header.hasMagic) return "no \"OP FILE 1.00\" header";
  if (!header.complete) return "header cut short at " + std::to_string(header.size) + " bytes";
  return {};
}

RecordStep ParseRecord(std::span<const uint8_t> bytes, int64_t offset, int64_t fileSize,
                       int8_t packMode) {
  if (offset >= fileSize) return Ended(RecordStep::kEndOfFile);
  const int64_t left = fileSize - offset;
  if (left < 4) return Damaged(offset, "RecordSize cut short by the end of the file");
  if (bytes.size() < 4) return NeedMore(4);
  RecordStep step;
  RecordFields& record = step.record;
  record.offset = offset;
  record.recordSize = GetLE32(bytes.data());
  if (record.recordSize == 0) {
    if (left == 4) return Ended(RecordStep::kEndMarker);
    return Damaged(offset, "zero RecordSize before the end of the file");
  }
  if (record.recordSize > left - 4) {
    return Damaged(offset, "RecordSize " + std::to_string(record.recordSize) +
                               " runs past the end of the file (" + std::to_string(left - 4) +
                               " bytes left)");
  }
  FieldCursor cursor(bytes, offset, record.End());
  if (!ReadFields(cursor, record)) {
    if (cursor.Needed() > 0) return NeedMore(cursor.Needed());
    return Damaged(offset, cursor.Problem());
  }
  if (record.fileName.empty()) return Damaged(offset, "empty FileName");
  record.dataOffset = cursor.Position();
  record.dataLength = record.End() - record.dataOffset;
  if (packMode == kPackPacked && record.dataLength >= static_cast<int64_t>(kPackedPrefixSize)) {
    const int64_t through = record.dataOffset + static_cast<int64_t>(kPackedPrefixSize) - offset;
    if (static_cast<int64_t>(bytes.size()) < through) return NeedMore(through);
    record.unpackedLength = GetLE32(bytes.data() + (record.dataOffset + 4 - offset));
  }
  step.kind = RecordStep::kRecord;
  return step;
}

bool IsSafeItemName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  const std::string last = name.substr(name.rfind('/') + 1);
  if (last.empty() || last == "." || last == "..") return false;
  for (size_t start = 0;;) {
    const size_t end = name.find('/', start);
    const size_t length = (end == std::string::npos ? name.size() : end) - start;
    if (length == 2 && name.compare(start, 2, "..") == 0) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string PackedDataProblem(int64_t dataLength, std::optional<uint32_t> unpackedLength) {
  if (!unpackedLength || dataLength < static_cast<int64_t>(kPackedPrefixSize)) {
    return "packed data lacks its length prefix";
  }
  const int64_t unpacked = *unpackedLength;
  const int64_t coded = dataLength - static_cast<int64_t>(kPackedPrefixSize);
  if (unpacked > kMaxPackedItemSize || unpacked > MaxUnpackedFrom(coded) ||
      coded > std::numeric_limits<int32_t>::max() - kCodecPad) {
    return "packed data is damaged (" + std::to_string(coded) + " coded bytes cannot hold " +
           std::to_string(unpacked) + " bytes)";
  }
  return {};
}

int64_t UnpackedSize(const RecordFields& record, int8_t packMode) {
  if (packMode == kPackStored) return record.dataLength;
  if (packMode != kPackPacked) return 0;
  if (!PackedDataProblem(record.dataLength, record.unpackedLength).empty()) return 0;
  return *record.unpackedLength;
}

std::string DuplicateNameProblem(const std::vector<RecordFields>& records) {
  std::unordered_map<std::string, const RecordFields*> seen;
  seen.reserve(records.size());
  for (const RecordFields& record : records) {
    const std::string& name = record.fileName;
    auto [it, added] = seen.emplace(FoldCase(name.substr(name.rfind('/') + 1)), &record);
    if (added) continue;
    const RecordFields& first = *it->second;
    std::string problem = "the records at offsets " + std::to_string(first.offset) + " and " +
                          std::to_string(record.offset) + " share the file name \"" +
                          first.fileName + "\"";
    if (name != first.fileName) problem += " (as \"" + name + "\")";
    return problem;
  }
  return {};
}

std::string PackageSizeProblem(const std::string& name, int64_t size) {
  if (size <= kMaxPackageSize) return {};
  return name + " is " + SizeText(size) + ", more than the " + SizeText(kMaxPackageSize) +
         " a package may be";
}

int64_t TotalUnpackedSize(const std::vector<RecordFields>& records, int8_t packMode) {
  int64_t total = 0;
  for (const RecordFields& record : records)
    total += UnpackedSize(record, packMode);
  return total;
}

}  // namespace fwp
