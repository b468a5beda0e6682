// What the running user may do with a folder, and the current folder.
#pragma once

#include <string>

namespace platform {

// True when the calling process may create files in folder (write and search
// permission for its effective user and group, on a file system mounted writable).
// False for a missing folder or an empty path.
bool FolderIsWritable(const std::string& folder);

// The current working folder, ending with "/"; "" when it cannot be named (removed, or
// deeper than a path can be).
std::string CurrentFolder();

}  // namespace platform
