// The update package object: reads a package file record by record and extracts every
// item into a file of its own in a private work folder.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/package_format.h"
#include "platform/folder.h"
#include "platform/temp_file.h"

namespace fwp {

struct PackageLayout;

// An automatic work folder is a placeholder file in the temporary-files folder ("." +
// hex digits + ".tmp") with this suffix: hidden, and named by what reserves its name.
inline constexpr char kPlaceholderPrefix[] = ".";
inline constexpr char kWorkFolderSuffix[] = "_optfiles";
// What a placeholder holds: other programs make hidden ".1A2B.tmp" files too, and the
// sweep of leftovers must tell this program's from theirs.
inline constexpr char kPlaceholderMark[] = "vrq-update work folder\n";

// One extracted item.
struct TFileBase {
  int32_t Status = 0;    // bytes written to the item's file, or -1
  std::string FileName;  // last path component of the record's file name
  std::string Type;
  std::string Commands;
  std::string Mode;
  uint64_t CreationTime = 0;  // 100 ns ticks since 1601 (UTC)
  uint64_t LastAccessTime = 0;
  uint64_t LastWriteTime = 0;
};

class TOPFile {
 public:
  using HeaderImage = std::array<uint8_t, kHeaderSize>;

  // Makes a new automatic work folder, private and empty, held (locked) for as long as
  // the object lives so that another run's sweep of leftovers leaves it alone.
  TOPFile();
  // Forgets the items without deleting their files; removes the placeholder file of an
  // automatic work folder, and the folder itself when it is empty.
  ~TOPFile();
  TOPFile(const TOPFile&) = delete;
  TOPFile& operator=(const TOPFile&) = delete;

  // Extracts every item of the package at path. True only when the whole file was read
  // record by record and every item was written completely; LoadError() says why not
  // (the system's reason for a file that cannot be opened or read). A path that names
  // no regular file changes nothing. Items extracted before a failure stay extracted and
  // listed. A package is refused before anything is extracted when the file is larger
  // than 1 GiB, when two items would share a file, when its items unpack to more than
  // 1 GiB, or when the work folder's file system has not the room for them.
  bool Load(const std::string& path);
  const std::string& LoadError() const { return loadError_; }
  // What was odd about what the last load extracted all the same (a packed stream that
  // ends before its item does, no end marker behind the last record), one text each.
  const std::vector<std::string>& LoadWarnings() const { return loadWarnings_; }

  // Writes one item's data (dataLength bytes at the stream's position) to the file name
  // below the work folder and returns its Status: bytes written, or -1. Linux keeps no
  // creation time, so only the other two times are set.
  int32_t ExtractItemData(int8_t packMode, platform::File& stream, int64_t dataLength,
                          const std::string& name, uint64_t lastAccessTime, uint64_t lastWriteTime);

  // Item file names in package order. Load refuses a package in which two names end in
  // the same file name (letter case ignored), so each name here is listed once.
  const std::vector<std::string>& ItemNames() const { return itemNames_; }
  // The record named by ItemNames()[index]; nullptr for an index outside the list.
  // Constant time.
  const TFileBase* ItemAt(size_t index) const;
  // The record whose FileName equals name exactly; constant time.
  const TFileBase* FindItem(const std::string& name) const;
  // Deletes the item's file and forgets the item; true when a file was deleted. The name
  // is looked up without regard to letter case, in constant time; forgetting the last
  // item costs nothing, one further up moves the names behind it.
  bool RemoveItem(const std::string& name);
  // Deletes every extracted file and forgets all items; the work folder stays.
  bool RemoveAllItems();
  // Header image back to its defaults; forgets all items without deleting files.
  void Reset();
  void SetMagic(const std::string& text);
  void SetVersionLabel(const std::string& text);
  const HeaderImage& Header() const { return header_; }

  // The folder that receives the extracted files, always ending with "/".
  const std::string& WorkFolder() const { return workFolder_; }
  // Moves to requested, or to a new automatic folder when requested is empty; the
  // files of the old folder move along and the old folder is removed.
  void SetWorkFolder(const std::string& requested);
  // Deletes every file directly in the work folder.
  void ClearWorkFolder();

 private:
  // Records the first reason a load fails; always false.
  bool Fail(std::string why);
  bool RoomForItems(const PackageLayout& layout);
  void ExtractRecords(platform::File& file, const PackageLayout& layout);
  void AddItem(const std::string& name, std::unique_ptr<TFileBase> item);
  void ForgetItems();
  std::string AutomaticFolderName();
  void ForgetPlaceholder();

  HeaderImage header_{};
  std::vector<std::string> itemNames_;
  std::vector<std::unique_ptr<TFileBase>> items_;             // items_[i] is named by itemNames_[i]
  std::unordered_map<std::string, TFileBase*> byListedName_;  // name in lower case
  std::unordered_map<std::string, TFileBase*> byFileName_;
  std::string workFolder_;
  // The work folder, held open: items are created and deleted below it without
  // following a link planted there.
  platform::Folder workDir_;
  platform::TempFile placeholder_;  // the empty file that reserves an automatic folder's name
  bool ownsFolder_ = false;         // this object created the work folder (and may remove it)
  std::string loadError_;
  std::vector<std::string> loadWarnings_;
};

}  // namespace fwp
