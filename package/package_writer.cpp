#include "package/package_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "codec/window_encoder.h"

namespace fwp {
namespace {

// A reader keeps an item's byte count in a signed 32-bit Status and gives the decoder
// 512 bytes of room beyond U, so larger items could not be read back.
constexpr uint64_t kMaxItemSize = std::numeric_limits<int32_t>::max() - 512;
// The reader holds a packed item whole in memory and refuses more than this.
constexpr uint64_t kMaxPackedItemSize = uint64_t{1} << 30;

uint64_t MaxItemSize(int8_t packMode) {
  return packMode == kPackPacked ? kMaxPackedItemSize : kMaxItemSize;
}
constexpr size_t kCopyChunk = 64 * 1024;

void PutText(HeaderBytes& header, size_t offset, size_t size, const std::string& text) {
  std::memcpy(header.data() + offset, text.data(), std::min(size, text.size()));
}

void AppendLE32(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t bytes[4];
  PutLE32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

void AppendLE64(std::vector<uint8_t>& out, uint64_t value) {
  uint8_t bytes[8];
  PutLE64(bytes, value);
  out.insert(out.end(), bytes, bytes + 8);
}

void AppendText(std::vector<uint8_t>& out, const std::string& text) {
  AppendLE32(out, static_cast<uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

HeaderBytes MakeHeader(const PackageHeaderFields& fields) {
  HeaderBytes header{};
  PutText(header, kMagicOffset, kMagicSize, fields.magic);
  header[kPackModeOffset] = static_cast<uint8_t>(fields.packMode);
  PutText(header, kPrinterNameOffset, kPrinterNameSize, fields.printerName);
  PutText(header, kVersionLabelOffset, kVersionLabelSize, fields.versionLabel);
  PutText(header, kPackageKindOffset, kPackageKindSize, fields.packageKind);
  return header;
}

std::vector<uint8_t> ItemDataFor(int8_t packMode, const uint8_t* data, size_t size) {
  if (packMode != kPackPacked) return std::vector<uint8_t>(data, data + size);
  std::vector<uint8_t> stream = codec::PackWindow(data, size);
  std::vector<uint8_t> out;
  out.reserve(kPackedPrefixSize + stream.size());
  AppendLE32(out, 0);  // reserved
  AppendLE32(out, static_cast<uint32_t>(size));
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

std::vector<uint8_t> RecordPrefix(const ItemFields& item, uint64_t dataLength) {
  const uint64_t recordSize = kRecordFixedSize + item.type.size() + item.commands.size() +
                              item.mode.size() + item.fileName.size() + dataLength;
  if (recordSize > std::numeric_limits<uint32_t>::max()) return {};
  std::vector<uint8_t> out;
  out.reserve(4 + recordSize - dataLength);
  AppendLE32(out, static_cast<uint32_t>(recordSize));
  AppendText(out, item.type);
  AppendText(out, item.commands);
  AppendText(out, item.mode);
  AppendText(out, item.fileName);
  AppendLE64(out, item.creationTime);
  AppendLE64(out, item.lastAccessTime);
  AppendLE64(out, item.lastWriteTime);
  return out;
}

PackageWriter::PackageWriter(const std::string& path, const PackageHeaderFields& header)
    : path_(path),
      packMode_(header.packMode),
      file_(platform::File::Open(path, platform::File::Mode::kCreateTruncate)) {
  if (!file_.IsOpen()) {
    Fail("cannot create " + path + ": " + std::strerror(file_.LastError()));
    return;
  }
  HeaderBytes image = MakeHeader(header);
  WriteBytes(image.data(), image.size());
}

bool PackageWriter::Fail(const std::string& message) {
  if (error_.empty()) error_ = message;
  return false;
}

bool PackageWriter::WriteBytes(const void* data, size_t size) {
  if (!Ok()) return false;
  if (file_.Write(data, size) != static_cast<int64_t>(size)) {
    return Fail("cannot write " + path_ + ": " + std::strerror(file_.LastError()));
  }
  return true;
}

bool PackageWriter::AddItem(const ItemFields& item, const uint8_t* data, size_t size) {
  if (!Ok()) return false;
  if (size > MaxItemSize(packMode_)) return Fail("item " + item.fileName + " is too large");
  std::vector<uint8_t> payload = ItemDataFor(packMode_, data, size);
  std::vector<uint8_t> prefix = RecordPrefix(item, payload.size());
  if (prefix.empty()) return Fail("record of item " + item.fileName + " is too large");
  return WriteBytes(prefix.data(), prefix.size()) && WriteBytes(payload.data(), payload.size());
}

bool PackageWriter::AddItemFromFile(const ItemFields& item, const std::string& source) {
  if (!Ok()) return false;
  platform::File input = platform::File::Open(source, platform::File::Mode::kRead);
  if (!input.IsOpen()) return Fail(platform::OpenFailure(source, input.LastError()));
  const int64_t size = input.Size();
  if (size < 0) {
    return Fail("cannot read " + source + ": " + platform::ErrorText(input.LastError()));
  }
  if (static_cast<uint64_t>(size) > MaxItemSize(packMode_)) return Fail(source + " is too large");
  if (packMode_ != kPackPacked) return CopyStored(item, input, size, source);

  std::vector<uint8_t> data(static_cast<size_t>(size));
  if (input.Read(data.data(), data.size()) != size) {
    return Fail("cannot read " + source + ": it changed while it was read");
  }
  return AddItem(item, data.data(), data.size());
}

bool PackageWriter::CopyStored(const ItemFields& item, platform::File& source, int64_t size,
                               const std::string& sourcePath) {
  std::vector<uint8_t> prefix = RecordPrefix(item, static_cast<uint64_t>(size));
  if (prefix.empty()) return Fail("record of item " + item.fileName + " is too large");
  if (!WriteBytes(prefix.data(), prefix.size())) return false;
  std::vector<uint8_t> chunk(kCopyChunk);
  for (int64_t left = size; left > 0;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, kCopyChunk));
    if (source.Read(chunk.data(), want) != static_cast<int64_t>(want)) {
      return Fail("cannot read " + sourcePath + ": it changed while it was read");
    }
    if (!WriteBytes(chunk.data(), want)) return false;
    left -= static_cast<int64_t>(want);
  }
  return true;
}

bool PackageWriter::Finish(bool endMarker) {
  if (endMarker) {
    const uint8_t zeros[kEndMarkerSize] = {};
    WriteBytes(zeros, sizeof zeros);
  }
  if (file_.IsOpen() && !file_.Close() && Ok()) {
    Fail("cannot write " + path_ + ": " + std::strerror(file_.LastError()));
  }
  return Ok();
}

std::vector<uint8_t> PackageImage(const PackageHeaderFields& header,
                                  const std::vector<ItemImage>& items, bool endMarker) {
  HeaderBytes head = MakeHeader(header);
  std::vector<uint8_t> out(head.begin(), head.end());
  for (const ItemImage& item : items) {
    std::vector<uint8_t> payload = ItemDataFor(header.packMode, item.data.data(), item.data.size());
    std::vector<uint8_t> prefix = RecordPrefix(item.fields, payload.size());
    out.insert(out.end(), prefix.begin(), prefix.end());
    out.insert(out.end(), payload.begin(), payload.end());
  }
  if (endMarker) out.insert(out.end(), kEndMarkerSize, 0);
  return out;
}

}  // namespace fwp
