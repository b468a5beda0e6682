// The maker: a copy of the running executable with the package linked to its end.
#include <filesystem>
#include <string>

#include "app/Unit_mainform.h"
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

int32_t TMainForm::MakeUpdateApp(const std::string& packagePath) {
  std::string package = packagePath;
  if (package.empty()) {
    std::optional<std::string> chosen = ui_.ChooseFile(OpenDialog1());
    if (!chosen) return -1;
    package = *chosen;
  }
  const std::string& executable = env_.executablePath;
  const std::string target = ReplaceExtension(package, ".run");

  // Copying over the package or over the running executable would destroy the very
  // bytes the copy is made from.
  if (SameFile(target, package) || SameFile(target, executable)) {
    ErrorBox("copy file error", target + " is the package or this program itself");
    return 0;
  }
  if (!platform::CopyFile(executable, target, false)) {
    ErrorBox("copy file error", "can not copy " + executable + " to " + target);
    return 0;
  }
  if (AppendLinkedPackage(target, package) < 0) {
    // An executable with a partial package would only look like an update application.
    platform::DeleteFile(target);
    ErrorBox("make new update application Failed", "can not link " + package + " to " + target);
    return 0;
  }
  SuccessBox(texts::kMakeSuccess, "Information");
  return 0;
}

}  // namespace app
