#include "tools/fwp-tool/package_walker.h"

#include <algorithm>
#include <cstring>

#include "package/package_format.h"
#include "platform/file.h"

namespace fwptool {
namespace {

std::string TextUpToZero(const uint8_t* data, size_t size) {
  const void* zero = std::memchr(data, 0, size);
  size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
  return std::string(reinterpret_cast<const char*>(data), length);
}

// Reads the fields of one record in order, each bounded by the record's end (which
// itself is bounded by the file's end).
class RecordReader {
 public:
  RecordReader(platform::File& file, int64_t position, int64_t recordEnd)
      : file_(file), pos_(position), end_(recordEnd) {}

  const std::string& Problem() const { return problem_; }
  int64_t Position() const { return pos_; }

  bool Word(const char* field, uint32_t& value) {
    uint8_t bytes[4];
    if (!Bytes(field, bytes, 4)) return false;
    value = fwp::GetLE32(bytes);
    return true;
  }

  bool Time(const char* field, uint64_t& value) {
    uint8_t bytes[8];
    if (!Bytes(field, bytes, 8)) return false;
    value = fwp::GetLE64(bytes);
    return true;
  }

  // Length-prefixed text; only the first kWalkTextLimit bytes are read.
  bool Text(const char* field, std::string& text, bool& cut) {
    uint32_t length = 0;
    std::string lengthName = std::string(field) + "Length";
    if (!Word(lengthName.c_str(), length)) return false;
    if (length > end_ - pos_) {
      return Fail(lengthName + " " + std::to_string(length) + " runs past the record's end");
    }
    std::vector<uint8_t> shown(std::min<size_t>(length, kWalkTextLimit));
    if (file_.ReadAt(shown.data(), shown.size(), pos_) != static_cast<int64_t>(shown.size())) {
      return Fail(std::string("cannot read ") + field);
    }
    text = std::string(shown.begin(), shown.end());
    cut = cut || length > shown.size();
    pos_ += length;
    return true;
  }

 private:
  bool Fail(const std::string& message) {
    problem_ = message;
    return false;
  }

  bool Bytes(const char* field, uint8_t* out, int64_t size) {
    if (end_ - pos_ < size) return Fail(std::string(field) + " runs past the record's end");
    if (file_.ReadAt(out, static_cast<size_t>(size), pos_) != size) {
      return Fail(std::string("cannot read ") + field);
    }
    pos_ += size;
    return true;
  }

  platform::File& file_;
  int64_t pos_;
  int64_t end_;
  std::string problem_;
};

bool ReadHeader(platform::File& file, PackageWalk& walk) {
  uint8_t header[fwp::kHeaderSize] = {};
  int64_t got = file.ReadAt(header, sizeof header, 0);
  if (got < 0) {
    walk.problem = std::string("cannot read: ") + std::strerror(file.LastError());
    return false;
  }
  walk.magic = TextUpToZero(header + fwp::kMagicOffset, fwp::kMagicSize);
  walk.packMode = static_cast<int8_t>(header[fwp::kPackModeOffset]);
  walk.printerName = TextUpToZero(header + fwp::kPrinterNameOffset, fwp::kPrinterNameSize);
  walk.versionLabel = TextUpToZero(header + fwp::kVersionLabelOffset, fwp::kVersionLabelSize);
  walk.packageKind = TextUpToZero(header + fwp::kPackageKindOffset, fwp::kPackageKindSize);
  if (got < static_cast<int64_t>(fwp::kMagic.size()) + 1 || walk.magic != fwp::kMagic) {
    walk.end = WalkEnd::kNoPackage;
    walk.problem = "no \"OP FILE 1.00\" magic at the start";
    return false;
  }
  if (got < static_cast<int64_t>(fwp::kHeaderSize)) {
    walk.problem = "header cut short at " + std::to_string(got) + " bytes";
    walk.endOffset = got;
    return false;
  }
  walk.headerRead = true;
  return true;
}

// Reads the record at offset into record; false with walk.problem set when it is damaged.
bool ReadRecord(platform::File& file, PackageWalk& walk, WalkedRecord& record) {
  const int64_t recordEnd = record.offset + 4 + record.recordSize;
  if (recordEnd > walk.fileSize) {
    walk.problem =
        "RecordSize " + std::to_string(record.recordSize) + " runs past the end of the file";
    return false;
  }
  RecordReader reader(file, record.offset + 4, recordEnd);
  bool ok = reader.Text("Type", record.type, record.textCut) &&
            reader.Text("Commands", record.commands, record.textCut) &&
            reader.Text("Mode", record.mode, record.textCut) &&
            reader.Text("FileName", record.fileName, record.textCut) &&
            reader.Time("CreationTime", record.creationTime) &&
            reader.Time("LastAccessTime", record.lastAccessTime) &&
            reader.Time("LastWriteTime", record.lastWriteTime);
  if (!ok) {
    walk.problem = reader.Problem();
    return false;
  }
  record.dataOffset = reader.Position();
  record.dataLength = recordEnd - record.dataOffset;
  if (walk.packMode == fwp::kPackPacked && record.dataLength >= 8) {
    uint8_t bytes[4];
    if (file.ReadAt(bytes, 4, record.dataOffset + 4) == 4)
      record.unpackedLength = fwp::GetLE32(bytes);
  }
  if (record.fileName.empty()) {
    walk.problem = "empty FileName";
    return false;
  }
  return true;
}

void WalkRecords(platform::File& file, PackageWalk& walk) {
  int64_t offset = fwp::kHeaderSize;
  for (;;) {
    walk.endOffset = offset;
    if (offset == walk.fileSize) {
      walk.end = WalkEnd::kEndOfFile;
      return;
    }
    uint8_t bytes[4];
    if (walk.fileSize - offset < 4 || file.ReadAt(bytes, 4, offset) != 4) {
      walk.problem = "RecordSize cut short by the end of the file";
      return;
    }
    WalkedRecord record;
    record.offset = offset;
    record.recordSize = fwp::GetLE32(bytes);
    if (record.recordSize == 0) {
      walk.end = offset + 4 == walk.fileSize ? WalkEnd::kEndMarker : WalkEnd::kDamaged;
      if (walk.end == WalkEnd::kDamaged)
        walk.problem = "zero RecordSize before the end of the file";
      return;
    }
    bool ok = ReadRecord(file, walk, record);
    walk.records.push_back(std::move(record));
    if (!ok) return;
    offset = walk.records.back().offset + 4 + walk.records.back().recordSize;
  }
}

}  // namespace

PackageWalk WalkPackage(const std::string& path) {
  PackageWalk walk;
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) {
    walk.problem = std::string("cannot open: ") + std::strerror(file.LastError());
    return walk;
  }
  walk.fileSize = file.Size();
  if (walk.fileSize < 0) {
    walk.problem = std::string("cannot read: ") + std::strerror(file.LastError());
    return walk;
  }
  if (ReadHeader(file, walk)) WalkRecords(file, walk);
  return walk;
}

}  // namespace fwptool
