#include "package/folder_tools.h"

#include "platform/fs.h"

namespace fwp {

// An empty path names no folder: it must never turn into "/" or the current folder.

bool DeleteFolderTree(const std::string& path) {
  if (path.empty()) return true;
  const std::string folder = platform::WithTrailingSlash(path);
  if (auto entries = platform::ListFolder(folder)) {
    for (const auto& entry : *entries) {
      if (entry.isFolder) {
        DeleteFolderTree(folder + entry.name);
      } else {
        platform::DeleteFile(folder + entry.name);
      }
    }
  }
  platform::RemoveFolder(folder);
  return true;
}

bool DeleteFolderFiles(const std::string& path) {
  if (path.empty()) return true;
  const std::string folder = platform::WithTrailingSlash(path);
  if (auto entries = platform::ListFolder(folder)) {
    for (const auto& entry : *entries) {
      if (!entry.isFolder) platform::DeleteFile(folder + entry.name);
    }
  }
  return true;
}

bool CopyFolderFiles(const std::string& source, const std::string& target, bool failIfExists) {
  if (source.empty() || target.empty()) return true;
  const std::string from = platform::WithTrailingSlash(source);
  const std::string to = platform::WithTrailingSlash(target);
  if (auto entries = platform::ListFolder(from)) {
    for (const auto& entry : *entries) {
      if (!entry.isFolder) platform::CopyFile(from + entry.name, to + entry.name, failIfExists);
    }
  }
  return true;
}

}  // namespace fwp
