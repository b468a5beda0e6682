#include "app/maker.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "app/text_tools.h"
#include "package/linked_package.h"
#include "platform/file.h"
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

}  // namespace

RunOutcome MakeUpdateApplication(const std::string& executable, const std::string& package,
                                 const std::function<void()>& checkStop) {
  const std::string target = ReplaceExtension(package, ".run");
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
  return RunOutcome::Success(kMakeSuccess, "Information");
}

}  // namespace app
