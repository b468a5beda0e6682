#include "package/opfile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "codec/_lib_kbtapp.h"
#include "package/file_time.h"
#include "package/text.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace {

using platform::File;

constexpr size_t kCopyChunk = 65536;
constexpr int64_t kCodecPad = 512;  // the codec may read and write this far past
constexpr int64_t kMaxUnpacked = int64_t{1} << 30;

struct ItemResult {
  int32_t status = 0;
  std::string error;  // why status is -1
};

// A record's file name must name a file below the work folder: relative, no ".."
// component, and a last component that names a file.
bool IsSafeItemName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  const std::string last = platform::FileNameOf(name);
  if (last.empty() || last == "." || last == "..") return false;
  size_t start = 0;
  for (;;) {
    size_t end = name.find('/', start);
    size_t length = (end == std::string::npos ? name.size() : end) - start;
    if (length == 2 && name.compare(start, 2, "..") == 0) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string Reason(int error) {
  return std::strerror(error != 0 ? error : EIO);
}

// The most bytes c coded bytes can yield: the densest token is a 1,024-byte copy in
// kMaxCopyTokenBits bits, and one more token may run into the padding.
int64_t MaxUnpackedFrom(int64_t coded) {
  return coded * 8 * MAX_WND_SIZE / kMaxCopyTokenBits + MAX_WND_SIZE;
}

// Reads the fields of one record without ever passing its end.
class RecordCursor {
 public:
  RecordCursor(File& file, int64_t pos, int64_t end) : file_(file), pos_(pos), end_(end) {}

  bool U32(uint32_t& value) {
    unsigned char bytes[4];
    if (!Take(bytes, 4)) return false;
    value = fwp::GetLE32(bytes);
    return true;
  }
  bool U64(uint64_t& value) {
    unsigned char bytes[8];
    if (!Take(bytes, 8)) return false;
    value = fwp::GetLE64(bytes);
    return true;
  }
  // A length-prefixed text, taken up to its first zero byte.
  bool Text(std::string& text) {
    uint32_t length = 0;
    if (!U32(length) || length > end_ - pos_) return false;
    std::string bytes(length, '\0');
    if (!Take(bytes.data(), length)) return false;
    text.assign(bytes.c_str());
    return true;
  }
  int64_t pos() const { return pos_; }
  int64_t left() const { return end_ - pos_; }

 private:
  bool Take(void* out, size_t size) {
    if (static_cast<int64_t>(size) > end_ - pos_) return false;
    if (file_.ReadAt(out, size, pos_) != static_cast<int64_t>(size)) return false;
    pos_ += static_cast<int64_t>(size);
    return true;
  }
  File& file_;
  int64_t pos_;
  int64_t end_;
};

ItemResult CopyStored(File& package, int64_t length, File& out, const std::string& target) {
  std::vector<unsigned char> chunk(kCopyChunk);
  int64_t copied = 0;
  while (copied < length) {
    auto want = static_cast<size_t>(std::min<int64_t>(length - copied, kCopyChunk));
    int64_t got = package.Read(chunk.data(), want);
    if (got < 0) return {-1, "cannot read the package: " + Reason(package.LastError())};
    if (got == 0) break;
    if (out.Write(chunk.data(), static_cast<size_t>(got)) != got) {
      return {-1, "cannot write " + target + ": " + Reason(out.LastError())};
    }
    copied += got;
  }
  return {static_cast<int32_t>(std::min<int64_t>(copied, std::numeric_limits<int32_t>::max())), {}};
}

ItemResult Unpack(File& package, int64_t length, File& out, const std::string& target) {
  unsigned char prefix[fwp::kPackedPrefixSize];
  if (length < static_cast<int64_t>(sizeof prefix) ||
      package.Read(prefix, sizeof prefix) != static_cast<int64_t>(sizeof prefix)) {
    return {-1, "packed data lacks its length prefix"};
  }
  const int64_t unpacked = fwp::GetLE32(prefix + 4);
  const int64_t coded = length - static_cast<int64_t>(sizeof prefix);
  if (unpacked > kMaxUnpacked || unpacked > MaxUnpackedFrom(coded) ||
      coded > std::numeric_limits<int32_t>::max() - kCodecPad) {
    return {-1, "packed data is damaged (" + std::to_string(coded) + " coded bytes cannot hold " +
                    std::to_string(unpacked) + " bytes)"};
  }
  std::vector<uint8_t> input;
  std::vector<uint8_t> output;
  try {
    input.assign(static_cast<size_t>(coded + kCodecPad), 0);
    output.assign(static_cast<size_t>(unpacked + kCodecPad), 0);
  } catch (const std::bad_alloc&) {
    return {-1, "not enough memory to unpack " + std::to_string(unpacked) + " bytes"};
  }
  for (int64_t got = 0; got < coded;) {
    auto want = static_cast<size_t>(std::min<int64_t>(coded - got, kCopyChunk));
    int64_t n = package.Read(input.data() + got, want);
    if (n <= 0) return {-1, "packed data is cut short"};
    got += n;
  }
  const int32_t produced = UnpackWindow(input.data(), static_cast<int32_t>(coded), output.data(),
                                        static_cast<int32_t>(unpacked + kCodecPad));
  if (produced < unpacked) return {-1, "packed data is damaged (it does not decode)"};
  if (out.Write(output.data(), static_cast<size_t>(unpacked)) != unpacked) {
    return {-1, "cannot write " + target + ": " + Reason(out.LastError())};
  }
  return {static_cast<int32_t>(unpacked), {}};
}

ItemResult ExtractItem(int8_t packMode, File& package, int64_t length, const std::string& target,
                       uint64_t lastAccessTime, uint64_t lastWriteTime) {
  File out = File::Open(target, File::Mode::kCreateTruncate);
  if (!out.IsOpen()) return {-1, "cannot create " + target + ": " + Reason(out.LastError())};
  ItemResult result;
  if (packMode == fwp::kPackStored) {
    result = CopyStored(package, length, out, target);
  } else if (packMode == fwp::kPackPacked) {
    result = Unpack(package, length, out, target);
  }
  // Linux moves the last-write time with every write, so the record's times go on last.
  if (result.status >= 0) {
    out.SetTimes(fwp::FileTimeToUnix(lastAccessTime), fwp::FileTimeToUnix(lastWriteTime));
    if (!out.Close()) return {-1, "cannot write " + target + ": " + Reason(out.LastError())};
  }
  return result;
}

}  // namespace

TOPFile::TOPFile() {
  Reset();
  workFolder_ = " ";  // never a folder: makes SetWorkFolder("") always pick a new one
  SetWorkFolder("");
  ClearWorkFolder();
}

int32_t TOPFile::ExtractItemData(int8_t packMode, platform::File& stream, int64_t dataLength,
                                 const std::string& target, uint64_t /*creationTime*/,
                                 uint64_t lastAccessTime, uint64_t lastWriteTime) {
  return ExtractItem(packMode, stream, dataLength, target, lastAccessTime, lastWriteTime).status;
}

bool TOPFile::Load(const std::string& path) {
  loadError_.clear();
  auto fail = [this](std::string why) {
    if (loadError_.empty()) loadError_ = std::move(why);
    return false;
  };
  if (!platform::IsRegularFile(path)) return fail("no package file at " + path);
  RemoveAllItems();
  Reset();
  File file = File::Open(path, File::Mode::kRead);
  if (!file.IsOpen()) return fail("cannot open " + path + ": " + Reason(file.LastError()));

  HeaderImage header{};
  const int64_t got = file.Read(header.data(), header.size());
  if (got < 0 || !fwp::HasMagic(header.data(), got)) {
    return fail(path + " is not an update package (no \"OP FILE 1.00\" header)");
  }
  header_ = header;
  if (workFolder_.empty() || !platform::IsFolder(workFolder_)) {
    return fail("the work folder " + workFolder_ + " does not exist");
  }
  const int64_t fileSize = file.Size();
  if (fileSize < static_cast<int64_t>(fwp::kHeaderSize)) {
    return fail(path + " is cut short inside its header");
  }
  const auto packMode = static_cast<int8_t>(header_[fwp::kPackModeOffset]);
  return LoadRecords(file, fileSize, packMode) && loadError_.empty();
}

bool TOPFile::LoadRecords(platform::File& file, int64_t fileSize, int8_t packMode) {
  auto fail = [this](std::string why) {
    if (loadError_.empty()) loadError_ = std::move(why);
    return false;
  };
  int64_t pos = static_cast<int64_t>(fwp::kHeaderSize);
  while (pos < fileSize) {
    const std::string where = "record at offset " + std::to_string(pos);
    RecordCursor sizeField(file, pos, fileSize);
    uint32_t recordSize = 0;
    if (!sizeField.U32(recordSize)) return fail(where + " is cut short");
    if (recordSize == 0) {
      if (pos + 4 == fileSize) return true;
      return fail(where + " has size 0 before the end of the file");
    }
    const int64_t recordEnd = pos + 4 + recordSize;
    if (recordEnd > fileSize) {
      return fail(where + " claims " + std::to_string(recordSize) + " bytes, but only " +
                  std::to_string(fileSize - pos - 4) + " are left");
    }
    RecordCursor fields(file, pos + 4, recordEnd);
    TFileBase item;
    std::string name;
    if (!fields.Text(item.Type) || !fields.Text(item.Commands) || !fields.Text(item.Mode) ||
        !fields.Text(name) || !fields.U64(item.CreationTime) || !fields.U64(item.LastAccessTime) ||
        !fields.U64(item.LastWriteTime)) {
      return fail(where + " has a field that does not fit the record");
    }
    if (name.empty()) return fail(where + " has an empty file name");

    if (!IsSafeItemName(name)) {
      item.Status = -1;
      fail("item \"" + name + "\" would be written outside the work folder");
    } else if (packMode != fwp::kPackStored && packMode != fwp::kPackPacked) {
      fail("unknown pack mode " + std::to_string(packMode) + ": items cannot be extracted");
      item.Status = ExtractItemData(packMode, file, 0, workFolder_ + name, item.CreationTime,
                                    item.LastAccessTime, item.LastWriteTime);
    } else {
      file.Seek(fields.pos(), SEEK_SET);
      ItemResult result = ExtractItem(packMode, file, fields.left(), workFolder_ + name,
                                      item.LastAccessTime, item.LastWriteTime);
      item.Status = result.status;
      if (result.status < 0) {
        fail("item \"" + name + "\": " + result.error);
      } else if (packMode == fwp::kPackStored && result.status < fields.left()) {
        fail("item \"" + name + "\" is cut short");
      }
    }
    item.FileName = platform::FileNameOf(name);
    itemNames_.push_back(name);
    items_.push_back(std::make_unique<TFileBase>(std::move(item)));
    pos = recordEnd;
  }
  return pos == fileSize;
}

const TFileBase* TOPFile::ItemAt(size_t index) const {
  if (index >= itemNames_.size()) return nullptr;
  return FindItem(platform::FileNameOf(itemNames_[index]));
}

const TFileBase* TOPFile::FindItem(const std::string& name) const {
  for (const auto& item : items_) {
    if (item->FileName == name) return item.get();
  }
  return nullptr;
}

bool TOPFile::RemoveItem(const std::string& name) {
  auto listed = std::find_if(itemNames_.begin(), itemNames_.end(), [&](const std::string& entry) {
    return fwp::EqualsIgnoringCase(entry, name);
  });
  if (listed == itemNames_.end()) {
    return IsSafeItemName(name) && platform::DeleteFile(workFolder_ + name);
  }
  const std::string entry = *listed;
  itemNames_.erase(listed);
  const TFileBase* record = FindItem(platform::FileNameOf(entry));
  auto owned = std::find_if(items_.begin(), items_.end(),
                            [&](const auto& item) { return item.get() == record; });
  if (owned != items_.end()) items_.erase(owned);
  return IsSafeItemName(entry) && platform::DeleteFile(workFolder_ + entry);
}

bool TOPFile::RemoveAllItems() {
  while (!itemNames_.empty())
    RemoveItem(itemNames_.back());
  items_.clear();
  return true;
}

void TOPFile::Reset() {
  header_.fill(0);
  SetMagic(std::string(fwp::kMagic));
  SetVersionLabel("");
  itemNames_.clear();
  items_.clear();
}

void TOPFile::SetMagic(const std::string& text) {
  if (text.empty()) return;
  std::memcpy(header_.data() + fwp::kMagicOffset, text.data(),
              std::min(text.size(), fwp::kMagicSize));
}

void TOPFile::SetVersionLabel(const std::string& text) {
  if (text.empty()) return;
  std::memset(header_.data() + fwp::kVersionLabelOffset, 0, fwp::kVersionLabelSize);
  std::memcpy(header_.data() + fwp::kVersionLabelOffset, text.data(),
              std::min(text.size(), fwp::kVersionLabelSize));
}
