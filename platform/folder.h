// An open folder, and the files below it reached without following a symbolic link.
//
// A folder that someone else can write to (the target of "fwp-tool extract", say) may
// hold links planted to send a write or a delete elsewhere; a path walked one component
// at a time with O_NOFOLLOW cannot be redirected that way. The folder's own path may be
// a link: it is resolved once, when the folder is opened.
#pragma once

#include <cstdint>
#include <string>

#include "platform/descriptor.h"
#include "platform/file.h"

namespace platform {

class Folder {
 public:
  Folder() = default;
  // Opens the folder at path; IsOpen() tells whether it worked and LastError() why not.
  static Folder Open(const std::string& path);

  bool IsOpen() const { return fd_.IsOpen(); }
  int LastError() const { return error_; }
  // Marks the folder as held by this process for as long as it stays open, so that the
  // sweep of stale temporary folders (platform/temp_file.h) leaves it alone. False when
  // another process holds it.
  bool Hold();

  // Creates (or truncates) the regular file at relative below this folder, for writing,
  // mode 0644 less the umask. Every folder on the way must be a real folder below this
  // one and the file no link: a link fails it (ELOOP or ENOTDIR), and so do a ".."
  // component and an absolute path (EINVAL). A FIFO or device there is refused, never
  // opened for a write that could block.
  File CreateFile(const std::string& relative) const;
  // Deletes the file at relative, reached in the same way; never a folder. True when it
  // was deleted.
  bool DeleteFile(const std::string& relative) const;

 private:
  // The folder that holds relative's last component, and that component as leaf: this
  // folder itself, or one below it that `opened` then holds. -1 with errno on failure.
  int ParentOf(const std::string& relative, Descriptor& opened, std::string& leaf) const;

  Descriptor fd_;
  int error_ = 0;
};

// Bytes that an ordinary user may still write on the file system that holds path; -1
// when that cannot be learned.
int64_t FreeSpace(const std::string& path);

// Test seam: FreeSpace answers bytes for every path. A negative value switches it off.
void InjectFreeSpace(int64_t bytes);

}  // namespace platform
