// Temporary files that a process holds, and the sweep of those that nobody holds any
// more.
//
// A run may die before it cleans up (kill -9, a power cut), so every temporary file or
// folder it makes carries an advisory lock (flock) for as long as the run lives; the
// kernel drops the lock with the process. A later run then removes what nobody holds,
// and leaves alone what another running instance holds. A name form that other programs
// may use as well (".1A2B.tmp") is not enough to call a file ours: such files carry a
// mark, a short text written into them under the lock, and the sweep takes only files
// that hold exactly that text.
//
//   platform::TempFile image = platform::TempFile::Create(folder, "_^~");
//   if (!image.IsOpen()) ... image.LastError() ...
//   write to image.Path(); the file goes when `image` does, unless image.Release()
#pragma once

#include <string>
#include <vector>

#include "platform/descriptor.h"

namespace platform {

class TempFile {
 public:
  TempFile() = default;
  // Creates folder/prefix + 1 to 4 upper-case hex digits + ".tmp", empty, mode 0600,
  // with O_EXCL (another number while a name is taken), and locks it. IsOpen() tells
  // whether it worked and LastError() why not (EACCES for a folder that is not
  // writable, say).
  // With a mark, the file holds that text (and nothing else) from the moment it is
  // locked; the sweep of a mark's files takes only files that hold it.
  static TempFile Create(const std::string& folder, const std::string& prefix,
                         const std::string& mark = {});
  // The same in the first of folders where a file can be made; LastError() is the last
  // folder's reason when none can.
  static TempFile CreateInFirst(const std::vector<std::string>& folders, const std::string& prefix);

  // Deletes the file, unless it was released.
  ~TempFile();
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool IsOpen() const { return lock_.IsOpen(); }
  int LastError() const { return error_; }
  // The full path; "" when there is no file. Write to it by this path: the lock stays
  // with the owner, on the same file, while others open it.
  const std::string& Path() const { return path_; }
  // Deletes the file now; false when there was none or it could not be deleted.
  bool Remove();
  // Gives the file up: it stays on disk, unlocked, and the owner is empty. Returns the
  // path.
  std::string Release();

 private:
  Descriptor lock_;
  std::string path_;
  int error_ = 0;
};

// Removes, directly in folder, the regular files named prefix + 1 to 4 upper-case hex
// digits + ".tmp" that this user owns and no process holds; with a mark, only those that
// hold exactly the mark (as TempFile::Create wrote it). Returns the paths removed. A file
// held by a running instance is never touched.
std::vector<std::string> SweepStaleTempFiles(const std::string& folder, const std::string& prefix,
                                             const std::string& mark = {});

// Removes, directly in folder, the folders named prefix + 1 to 4 upper-case hex digits +
// ".tmp" + suffix that this user owns, with everything in them, when no process holds
// the folder or the file of its name without the suffix (the placeholder that reserved
// the name); that placeholder, when this user's, goes with it. Returns the paths removed.
std::vector<std::string> SweepStaleTempFolders(const std::string& folder, const std::string& prefix,
                                               const std::string& suffix);

}  // namespace platform
