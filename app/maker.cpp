#include "app/maker.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "app/text_tools.h"
#include "package/linked_package.h"
#include "package/opfile.h"
#include "package/package_check.h"
#include "package/package_scan.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/replacing_file.h"

namespace app {
namespace {

constexpr size_t kCopyChunk = 1 << 16;

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  return a == b;
}

std::string Cause(int error) {
  return std::strerror(error);
}

// The running executable's whole file, a chunk at a time, so that a stop need not wait
// for the end of it.
StepResult CopyExecutable(const std::string& executable, platform::File& target,
                          const std::function<void()>& checkStop) {
  platform::File source = platform::File::Open(executable, platform::File::Mode::kRead);
  if (!source.IsOpen()) {
    return StepResult::Failed("can not read " + executable + ": " + Cause(source.LastError()));
  }
  std::vector<unsigned char> chunk(kCopyChunk);
  for (;;) {
    if (checkStop) checkStop();
    const int64_t got = source.Read(chunk.data(), chunk.size());
    if (got < 0) {
      return StepResult::Failed("can not read " + executable + ": " + Cause(source.LastError()));
    }
    if (got == 0) return StepResult::Done();
    if (target.Write(chunk.data(), static_cast<size_t>(got)) != got) {
      return StepResult::Failed("can not write the copy: " + Cause(target.LastError()));
    }
  }
}

// What the update procedure checks before it opens a printer, and its complete load.
StepResult CheckPackage(const std::string& package) {
  if (!platform::IsRegularFile(package)) {
    platform::File file = platform::PathExists(package)
                              ? platform::File()
                              : platform::File::Open(package, platform::File::Mode::kRead);
    return StepResult::Failed(file.LastError() != 0
                                  ? "can not read " + package + ": " + Cause(file.LastError())
                                  : package + " is not a file");
  }
  const std::string problem =
      fwp::ProbePackageHeader(package).ProblemFor(package, fwp::kPrinterFamily, fwp::kUpdateKind);
  if (!problem.empty()) return StepResult::Failed(problem);
  fwp::TOPFile loaded;
  const bool whole = loaded.Load(package);
  loaded.RemoveAllItems();
  if (!whole) return StepResult::Failed(package + ": " + loaded.LoadError());
  return StepResult::Done();
}

std::string FullPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.lexically_normal().string();
}

}  // namespace

std::string UpdateApplicationPathFor(const std::string& package) {
  return ReplaceExtension(package, ".run");
}

RunOutcome MakeUpdateApplication(const std::string& executable, const std::string& package,
                                 const std::function<void()>& checkStop) {
  const std::string target = UpdateApplicationPathFor(package);
  // Nothing is made of a package that the update application would refuse.
  if (StepResult checked = CheckPackage(package); !checked) {
    return RunOutcome::Error("Error fwp data!", checked.reason);
  }
  if (checkStop) checkStop();
  // Copying over the package or over the running executable would destroy the very
  // bytes the copy is made from.
  if (SameFile(target, package) || SameFile(target, executable)) {
    return RunOutcome::Error("copy file error", target + " is the package or this program itself");
  }
  // Nothing appears at target until the whole application is written.
  platform::ReplacingFile made = platform::ReplacingFile::Begin(target);
  if (!made.IsOpen()) {
    return RunOutcome::Error("copy file error", "can not create a file beside " + target + ": " +
                                                    Cause(made.LastError()));
  }
  if (StepResult copied = CopyExecutable(executable, made.Output(), checkStop); !copied) {
    return RunOutcome::Error("copy file error", copied.reason);
  }
  if (checkStop) checkStop();
  if (fwp::AppendLinkedPackage(made.Output(), package) < 0) {
    return RunOutcome::Error("make new update application Failed",
                             "can not link " + package + " to " + target);
  }
  if (checkStop) checkStop();
  const std::optional<unsigned> permissions = platform::PermissionBits(executable);
  if (!permissions || !made.Commit(*permissions)) {
    return RunOutcome::Error(
        "make new update application Failed",
        "can not put the application in place as " + target + ": " + Cause(made.LastError()));
  }
  RunOutcome outcome = RunOutcome::Success(kMakeSuccess, "Information");
  outcome.detail = FullPath(target);
  return outcome;
}

}  // namespace app
