#include "package/folder_tools.h"

#include "platform/fs.h"

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

bool DeleteFolderTree(const std::string& path) {
  const std::string folder = WithSlash(path);
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
  const std::string folder = WithSlash(path);
  if (auto entries = platform::ListFolder(folder)) {
    for (const auto& entry : *entries) {
      if (!entry.isFolder) platform::DeleteFile(folder + entry.name);
    }
  }
  return true;
}

bool CopyFolderFiles(const std::string& source, const std::string& target, bool failIfExists) {
  const std::string from = WithSlash(source);
  const std::string to = WithSlash(target);
  if (auto entries = platform::ListFolder(from)) {
    for (const auto& entry : *entries) {
      if (!entry.isFolder) platform::CopyFile(from + entry.name, to + entry.name, failIfExists);
    }
  }
  return true;
}
