// The update package object: the load of a package file and its work folder.
#include "package/opfile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "package/file_time.h"
#include "package/folder_tools.h"
#include "package/item_data.h"
#include "package/package_reader.h"
#include "package/package_scan.h"
#include "package/text.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace fwp {

namespace {

using platform::File;

constexpr size_t kCopyChunk = 65536;

struct ItemResult {
  ItemResult(int32_t bytes = 0, std::string why = {}) : status(bytes), error(std::move(why)) {}

  int32_t status;
  std::string error;    // why status is -1
  std::string warning;  // what is odd about an item that was written all the same
};

std::string Reason(int error) {
  return platform::ErrorText(error);
}

ItemResult CopyStored(File& package, int64_t length, File& out, const std::string& target) {
  // No bigger than the item: a package of many small items must not pay for 64 KiB each.
  std::vector<unsigned char> chunk(static_cast<size_t>(std::min<int64_t>(length, kCopyChunk)));
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
  const UnpackedItem item = UnpackItemData(package, length);
  if (!item.Ok()) return {-1, item.problem};
  if (out.Write(item.bytes.data(), static_cast<size_t>(item.size)) != item.size) {
    return {-1, "cannot write " + target + ": " + Reason(out.LastError())};
  }
  ItemResult result{static_cast<int32_t>(item.size), {}};
  if (item.EndsEarly()) result.warning = EndsEarlyWarning(platform::FileNameOf(target), item);
  return result;
}

// Writes length bytes of item data at the package's position into out.
ItemResult ExtractItem(int8_t packMode, File& package, int64_t length, File out,
                       const std::string& target, uint64_t lastAccessTime, uint64_t lastWriteTime) {
  if (!out.IsOpen()) return {-1, "cannot create " + target + ": " + Reason(out.LastError())};
  ItemResult result;
  if (packMode == kPackStored) {
    result = CopyStored(package, length, out, target);
  } else if (packMode == kPackPacked) {
    result = Unpack(package, length, out, target);
  }
  // Linux moves the last-write time with every write, so the record's times go on last.
  if (result.status >= 0) {
    out.SetTimes(FileTimeToUnix(lastAccessTime), FileTimeToUnix(lastWriteTime));
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
                                 const std::string& name, uint64_t lastAccessTime,
                                 uint64_t lastWriteTime) {
  return ExtractItem(packMode, stream, dataLength, workDir_.CreateFile(name), workFolder_ + name,
                     lastAccessTime, lastWriteTime)
      .status;
}

bool TOPFile::Fail(std::string why) {
  if (loadError_.empty()) loadError_ = std::move(why);
  return false;
}

bool TOPFile::Load(const std::string& path) {
  loadError_.clear();
  loadWarnings_.clear();
  // A path that names no regular file, or none at all, changes nothing.
  File file = File::Open(path, File::Mode::kRead);
  if (!file.IsOpen()) return Fail(platform::OpenFailure(path, file.LastError()));
  RemoveAllItems();
  Reset();
  if (std::string tooLarge = PackageSizeProblem(path, file.Size()); !tooLarge.empty()) {
    return Fail(tooLarge);
  }

  const PackageLayout layout = ScanPackage(file);
  if (layout.error != 0 && !layout.header.hasMagic) {
    return Fail("cannot read " + path + ": " + Reason(layout.error));
  }
  if (!layout.header.hasMagic) {
    return Fail(path + " is not an update package (no \"OP FILE 1.00\" header)");
  }
  header_ = layout.headerImage;
  if (!workDir_.IsOpen()) return Fail("the work folder " + workFolder_ + " does not exist");
  if (!layout.header.complete) return Fail(path + ": " + layout.problem);
  if (!RoomForItems(layout)) return false;
  ExtractRecords(file, layout);
  if (!layout.Whole()) Fail(layout.problem);
  if (std::string warning = EndMarkerWarning(layout); !warning.empty()) {
    loadWarnings_.push_back(warning);
  }
  return loadError_.empty();
}

// Checks made before anything is extracted, so that a package refused for them leaves
// nothing behind: items that would overwrite one another, more than a package may
// hold, more than the work folder's file system can take.
bool TOPFile::RoomForItems(const PackageLayout& layout) {
  if (std::string clash = DuplicateNameProblem(layout.records); !clash.empty()) {
    return Fail(clash);
  }
  const int64_t total = TotalUnpackedSize(layout.records, layout.header.packMode);
  if (total > kMaxPackageUnpacked) {
    return Fail("the items unpack to " + SizeText(total) + ", more than the " +
                SizeText(kMaxPackageUnpacked) + " a package may hold");
  }
  const int64_t free = platform::FreeSpace(workFolder_);
  if (free >= 0 && total > free) {
    return Fail("not enough free space in the work folder " + workFolder_ + ": the items need " +
                SizeText(total) + ", " + SizeText(free) + " are free");
  }
  return true;
}

void TOPFile::ExtractRecords(platform::File& file, const PackageLayout& layout) {
  const int8_t packMode = layout.header.packMode;
  const bool knownMode = packMode == kPackStored || packMode == kPackPacked;
  if (!knownMode && !layout.records.empty()) {
    Fail("unknown pack mode " + std::to_string(packMode) + ": items cannot be extracted");
  }
  itemNames_.reserve(layout.records.size());
  items_.reserve(layout.records.size());
  byListedName_.reserve(layout.records.size());
  byFileName_.reserve(layout.records.size());
  for (const RecordFields& record : layout.records) {
    const std::string& name = record.fileName;
    auto item = std::make_unique<TFileBase>();
    item->FileName = platform::FileNameOf(name);
    item->Type = record.type;
    item->Commands = record.commands;
    item->Mode = record.mode;
    item->CreationTime = record.creationTime;
    item->LastAccessTime = record.lastAccessTime;
    item->LastWriteTime = record.lastWriteTime;
    if (!IsSafeItemName(name)) {
      item->Status = -1;
      Fail("item \"" + name + "\" would be written outside the work folder");
    } else {
      file.Seek(record.dataOffset, SEEK_SET);
      ItemResult result =
          ExtractItem(packMode, file, knownMode ? record.dataLength : 0, workDir_.CreateFile(name),
                      workFolder_ + name, record.lastAccessTime, record.lastWriteTime);
      item->Status = result.status;
      if (!result.warning.empty()) loadWarnings_.push_back(result.warning);
      if (result.status < 0) {
        Fail("item \"" + name + "\": " + result.error);
      } else if (packMode == kPackStored && result.status < record.dataLength) {
        Fail("item \"" + name + "\" is cut short");
      }
    }
    AddItem(name, std::move(item));
  }
}

void TOPFile::AddItem(const std::string& name, std::unique_ptr<TFileBase> item) {
  byListedName_.emplace(FoldCase(name), item.get());
  byFileName_.emplace(item->FileName, item.get());
  itemNames_.push_back(name);
  items_.push_back(std::move(item));
}

const TFileBase* TOPFile::ItemAt(size_t index) const {
  // Load lists no two items under one FileName, so the record at an index is the one
  // its name finds.
  return index < items_.size() ? items_[index].get() : nullptr;
}

const TFileBase* TOPFile::FindItem(const std::string& name) const {
  auto found = byFileName_.find(name);
  return found == byFileName_.end() ? nullptr : found->second;
}

bool TOPFile::RemoveItem(const std::string& name) {
  auto listed = byListedName_.find(FoldCase(name));
  if (listed == byListedName_.end()) {
    return IsSafeItemName(name) && workDir_.DeleteFile(name);
  }
  const TFileBase* record = listed->second;
  byListedName_.erase(listed);
  byFileName_.erase(record->FileName);
  // RemoveAllItems takes the last item each time, which costs nothing to find.
  size_t index = items_.size() - 1;
  while (items_[index].get() != record)
    --index;
  const std::string entry = std::move(itemNames_[index]);
  itemNames_.erase(itemNames_.begin() + static_cast<std::ptrdiff_t>(index));
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  return IsSafeItemName(entry) && workDir_.DeleteFile(entry);
}

bool TOPFile::RemoveAllItems() {
  while (!itemNames_.empty())
    RemoveItem(itemNames_.back());
  return true;
}

void TOPFile::ForgetItems() {
  itemNames_.clear();
  items_.clear();
  byListedName_.clear();
  byFileName_.clear();
}

void TOPFile::Reset() {
  header_.fill(0);
  SetMagic(std::string(kMagic));
  SetVersionLabel("");
  ForgetItems();
}

void TOPFile::SetMagic(const std::string& text) {
  if (text.empty()) return;
  std::memcpy(header_.data() + kMagicOffset, text.data(), std::min(text.size(), kMagicSize));
}

void TOPFile::SetVersionLabel(const std::string& text) {
  if (text.empty()) return;
  std::memset(header_.data() + kVersionLabelOffset, 0, kVersionLabelSize);
  std::memcpy(header_.data() + kVersionLabelOffset, text.data(),
              std::min(text.size(), kVersionLabelSize));
}

}  // namespace fwp

// Where a package object extracts its items: a private folder, made for it unless the
// caller names one.
namespace fwp {

namespace {

constexpr int kNameAttempts = 1000;

// "<folder>.temp_<year><month><day><hour><minute><second><ms>/", no zero padding, in the
// executable's folder when it may hold temporary files (platform::TempFileFolders), else
// where they go instead.
std::string FallbackFolderName() {
  const platform::LocalTime t = platform::Now();
  char digits[96];
  std::snprintf(digits, sizeof digits, "%d%d%d%d%d%d%d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  const std::string own = platform::FolderOf(platform::ExecutablePath());
  return platform::TempFileFolders(own).front() + ".temp_" + digits + "/";
}

}  // namespace

TOPFile::~TOPFile() {
  if (ownsFolder_)
    platform::RemoveFolder(platform::WithoutTrailingSlash(workFolder_));  // only when empty
  ForgetPlaceholder();
}

void TOPFile::ForgetPlaceholder() {
  placeholder_ = platform::TempFile();
}

// A name for a new folder that does not exist yet. The placeholder file reserves the
// name against other processes, and its lock tells a later run's sweep that the folder
// is in use until the folder is held itself; its "." prefix hides the folder too.
std::string TOPFile::AutomaticFolderName() {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    platform::TempFile placeholder =
        platform::TempFile::Create(platform::TempFolder(), kPlaceholderPrefix, kPlaceholderMark);
    if (!placeholder.IsOpen()) break;
    std::string folder = placeholder.Path() + kWorkFolderSuffix + "/";
    if (!platform::PathExists(platform::WithoutTrailingSlash(folder))) {
      placeholder_ = std::move(placeholder);
      return folder;
    }
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string folder = FallbackFolderName();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the next name differs
    if (!platform::PathExists(platform::WithoutTrailingSlash(folder))) return folder;
  }
  return {};
}

void TOPFile::SetWorkFolder(const std::string& requested) {
  if (requested == workFolder_) return;
  std::string working = requested;
  if (working.empty() || working.back() != '/') working += '/';
  const std::string oldFolder = TrimBlanks(workFolder_);
  if (!requested.empty() &&
      platform::WithoutTrailingSlash(working) == platform::WithoutTrailingSlash(oldFolder)) {
    workFolder_ = working;  // the same folder, spelled with its final "/"
    return;
  }
  const bool ownedOld = ownsFolder_;
  platform::TempFile oldPlaceholder = std::exchange(placeholder_, {});

  std::string target = requested.empty() ? AutomaticFolderName() : working;
  const bool created = !target.empty() &&
                       !platform::PathExists(platform::WithoutTrailingSlash(target)) &&
                       platform::CreatePrivateFolder(platform::WithoutTrailingSlash(target));
  if (created) {
    if (!oldFolder.empty() && platform::IsFolder(oldFolder)) {
      CopyFolderFiles(oldFolder, target, false);
    }
  } else if (requested.empty()) {
    ForgetPlaceholder();  // no automatic folder could be made: there is no work folder
    target.clear();
  }
  // A folder this object made goes away once its files have moved on, or when it is
  // empty; a folder it was given is never removed.
  if (ownedOld && !oldFolder.empty()) {
    if (created) {
      DeleteFolderTree(oldFolder);
    } else {
      platform::RemoveFolder(platform::WithoutTrailingSlash(oldFolder));
    }
  }
  // A placeholder whose folder is still there stays with it; no longer held, both are a
  // later run's to sweep.
  if (platform::PathExists(platform::WithoutTrailingSlash(oldFolder))) oldPlaceholder.Release();
  workFolder_ = target;
  ownsFolder_ = created;
  workDir_ = workFolder_.empty() ? platform::Folder() : platform::Folder::Open(workFolder_);
  if (created) workDir_.Hold();
}

void TOPFile::ClearWorkFolder() {
  if (!workFolder_.empty() && platform::IsFolder(workFolder_)) DeleteFolderFiles(workFolder_);
}

}  // namespace fwp
