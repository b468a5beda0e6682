#include "platform/folder_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "platform/fs.h"

namespace platform {

bool FolderIsWritable(const std::string& folder) {
  if (folder.empty() || !IsFolder(folder)) return false;
  // AT_EACCESS: the effective ids decide, as they do when the file is created.
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string CurrentFolder() {
  std::vector<char> buffer(PATH_MAX);
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  // Linux reports a removed current folder as "(unreachable)/...": not a usable path.
  if (buffer[0] != '/') return {};
  return WithTrailingSlash(buffer.data());
}

}  // namespace platform
