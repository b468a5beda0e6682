#include "app/maker.h"

#include <filesystem>

#include "app/text_tools.h"
#include "package/linked_package.h"
#include "platform/fs.h"

namespace app {
namespace {

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  return a == b;
}

}  // namespace

RunOutcome MakeUpdateApplication(const std::string& executable, const std::string& package) {
  const std::string target = ReplaceExtension(package, ".run");
  // Copying over the package or over the running executable would destroy the very
  // bytes the copy is made from.
  if (SameFile(target, package) || SameFile(target, executable)) {
    return RunOutcome::Error("copy file error", target + " is the package or this program itself");
  }
  if (!platform::CopyFile(executable, target, false)) {
    return RunOutcome::Error("copy file error", "can not copy " + executable + " to " + target);
  }
  if (AppendLinkedPackage(target, package) < 0) {
    // An executable with a partial package would only look like an update application.
    platform::DeleteFile(target);
    return RunOutcome::Error("make new update application Failed",
                             "can not link " + package + " to " + target);
  }
  return RunOutcome::Success(kMakeSuccess, "Information");
}

}  // namespace app
