#include "workflow/leftovers.h"

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
  if (!executableFolder.empty() && platform::WithTrailingSlash(executableFolder) != temp) {
    add(platform::SweepStaleTempFiles(executableFolder, fwp::kTempPrefix, false));
  }
  add(platform::SweepStaleTempFiles(temp, fwp::kTempPrefix, false));
  // Folders before placeholders: a folder counts as held while its placeholder is.
  add(platform::SweepStaleTempFolders(temp, fwp::kPlaceholderPrefix, fwp::kWorkFolderSuffix));
  add(platform::SweepStaleTempFiles(temp, fwp::kPlaceholderPrefix, true));
  return removed;
}

}  // namespace app
