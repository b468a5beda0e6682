// Paths, folders and whole-file operations. Paths are byte strings with "/" as separator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"

namespace platform {

// Full path of the running executable (resolved /proc/self/exe); empty if unknown.
std::string ExecutablePath();

// Folder part of a path including its final "/" ("" when the path has none).
std::string FolderOf(const std::string& path);
// Last path component.
std::string FileNameOf(const std::string& path);
// folder with one final "/" added when it has none ("" becomes "./").
std::string WithTrailingSlash(const std::string& folder);
// path without its final "/"s (the root stays "/").
std::string WithoutTrailingSlash(const std::string& path);

// The temporary-files folder: $TMPDIR when it is set and names a folder, else "/tmp/".
// Always ends with "/".
std::string TempFolder();

// Where a program whose own folder is ownFolder keeps its temporary files, best first,
// each ending with "/": its own folder when that is a folder of the user running it
// (owner = effective uid) and not under /usr (an installed program's folder is no place
// for them, not even for root); then $XDG_RUNTIME_DIR when it names a folder of that user
// that nobody else may write; then TempFolder(). Never empty.
std::vector<std::string> TempFileFolders(const std::string& ownFolder);

// Copies the bytes and the permission bits of from to to. With failIfExists an
// existing target is left alone and the copy fails; otherwise it is overwritten.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);

// Creates one folder level with mode 0700 (private, and "hidden" by its name when that
// begins with "."). False when it exists already or cannot be made.
bool CreatePrivateFolder(const std::string& path);

// Creates path and every missing folder above it, each one it makes with exactly the
// permission bits mode (whatever the umask); folders that exist are left as they are.
// Returns "" when path is a folder afterwards, else why not in words for a detail line
// ("cannot make the folder PATH: REASON").
std::string CreateFolderPath(const std::string& path, unsigned mode);

// The effective user id of this process (0 for root).
unsigned EffectiveUserId();
// The home folder that the user database (passwd, or what NSS serves) names for user
// uid; "" when it names none.
std::string UserDatabaseHome(unsigned uid);

struct FolderEntry {
  std::string name;
  bool isFolder = false;
};
// Every entry but "." and ".."; nullopt when the folder cannot be listed.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path);

bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);
bool IsRegularFile(const std::string& path);
// Deletes a file (not a folder). True when it was deleted.
bool DeleteFile(const std::string& path);
// Removes an empty folder. True when it was removed.
bool RemoveFolder(const std::string& path);
// Size of a file in bytes, -1 when it cannot be examined.
int64_t FileSize(const std::string& path);
// Last access and last write time of a file; false when it cannot be examined.
bool GetFileTimes(const std::string& path, FileTime& lastAccess, FileTime& lastWrite);

// Local calendar time with milliseconds.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime Now();

}  // namespace platform
