// Folder helpers for work folders. Paths may or may not end with "/".
#pragma once

#include <string>

namespace fwp {

// Deletes every file and sub-folder in path, then path itself. Failures of single
// deletions are ignored; always true. Symbolic links are deleted, never followed.
bool DeleteFolderTree(const std::string& path);

// Deletes every file directly in path; sub-folders stay. Always true.
bool DeleteFolderFiles(const std::string& path);

// Copies every file directly in source into target under the same name (with its
// permission bits). With failIfExists an existing target file is kept. Always true.
bool CopyFolderFiles(const std::string& source, const std::string& target, bool failIfExists);

}  // namespace fwp
