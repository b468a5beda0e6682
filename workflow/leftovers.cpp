#include "workflow/leftovers.h"

#include <algorithm>

#include "package/linked_package.h"
#include "package/opfile.h"
#include "platform/fs.h"
#include "platform/temp_file.h"

namespace app {

std::vector<std::string> SweepLeftovers(const std::string& executableFolder) {
  const std::string temp = platform::TempFolder();
  std::vector<std::string> removed;
  auto add = [&removed](std::vector<std::string> paths) {
    removed.insert(removed.end(), paths.begin(), paths.end());
  };
  // "_^~" files wherever a run may have put them, and beside the executable also when
  // no run would put them there now (an earlier version did).
  std::vector<std::string> folders = platform::TempFileFolders(executableFolder);
  if (!executableFolder.empty()) folders.push_back(platform::WithTrailingSlash(executableFolder));
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const std::string& folder : folders)
    add(platform::SweepStaleTempFiles(folder, fwp::kTempPrefix));
  // Folders before placeholders: a folder counts as held while its placeholder is, and
  // goes with it. A placeholder left alone is taken only when it holds this program's
  // mark: ".1A2B.tmp" is a name other programs make too.
  add(platform::SweepStaleTempFolders(temp, fwp::kPlaceholderPrefix, fwp::kWorkFolderSuffix));
  add(platform::SweepStaleTempFiles(temp, fwp::kPlaceholderPrefix, fwp::kPlaceholderMark));
  return removed;
}

}  // namespace app
