#include "package/leftovers.h"

#include "package/linked_package.h"
#include "platform/fs.h"
#include "platform/temp_file.h"

namespace fwp {

std::vector<std::string> SweepLeftovers(const std::string& executableFolder) {
  const std::string temp = platform::TempFolder();
  std::vector<std::string> removed;
  auto add = [&removed](std::vector<std::string> paths) {
    removed.insert(removed.end(), paths.begin(), paths.end());
  };
  if (!executableFolder.empty() && platform::WithTrailingSlash(executableFolder) != temp) {
    add(platform::SweepStaleTempFiles(executableFolder, kTempPrefix, false));
  }
  add(platform::SweepStaleTempFiles(temp, kTempPrefix, false));
  // Folders before placeholders: a folder counts as held while its placeholder is.
  add(platform::SweepStaleTempFolders(temp, kPlaceholderPrefix, kWorkFolderSuffix));
  add(platform::SweepStaleTempFiles(temp, kPlaceholderPrefix, true));
  return removed;
}

}  // namespace fwp
