#include "workflow/maker.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "package/checksum.h"
#include "package/linked_package.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/replacing_file.h"
#include "workflow/text_tools.h"
#include "workflow/update_check.h"

namespace app {
namespace {

constexpr size_t kCopyChunk = 1 << 16;

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  return a == b;
}

// The running executable's whole file, a chunk at a time, so that a stop need not wait
// for the end of it; crc receives the CRC-32 of its bytes, the program part's checksum.
StepResult CopyExecutable(const std::string& executable, platform::File& target, uint32_t& crc,
                          const std::function<void()>& checkStop) {
  platform::File source = platform::File::Open(executable, platform::File::Mode::kRead);
  if (!source.IsOpen()) {
    return StepResult::Failed("can not read " + executable + ": " +
                              platform::ErrorText(source.LastError()));
  }
  std::vector<unsigned char> chunk(kCopyChunk);
  for (;;) {
    if (checkStop) checkStop();
    const int64_t got = source.Read(chunk.data(), chunk.size());
    if (got < 0) {
      return StepResult::Failed("can not read " + executable + ": " +
                                platform::ErrorText(source.LastError()));
    }
    if (got == 0) return StepResult::Done();
    crc = fwp::Crc32(crc, chunk.data(), static_cast<size_t>(got));
    if (target.Write(chunk.data(), static_cast<size_t>(got)) != got) {
      return StepResult::Failed("can not write the copy: " +
                                platform::ErrorText(target.LastError()));
    }
  }
}

// The application just made, checked as it will check itself when it updates: its
// trailer and both checksums as its package is copied out, then the package as an update
// takes it (workflow/update_check.h), so that nothing is made that an update would
// refuse. The words name the package the operator chose.
std::optional<RunOutcome> CheckMadeApplication(const std::string& made, const std::string& package,
                                               const MakerHooks& hooks, RunRecord* record) {
  const fwp::LinkedPackage linked = fwp::FindLinkedPackage(made);
  std::string problem;
  const platform::TempFile copy =
      linked.found ? fwp::ExtractLinkedPackageToTemp(made, linked, &problem) : platform::TempFile();
  if (!copy.IsOpen()) {
    return RunOutcome::Error("make new update application Failed",
                             "the package linked to " + made + " cannot be read back" +
                                 (problem.empty() ? std::string() : ": " + problem));
  }
  const UpdateCheck checked = CheckForUpdate(copy.Path(), package);
  const std::vector<std::string> warnings = checked.Warnings();
  if (record != nullptr) {
    record->package->versionLabel = checked.package.header.versionLabel;
    record->package->items = checked.Items();
    record->warnings = warnings;
  }
  if (const auto refusal = checked.FirstRefusal()) {
    return RunOutcome::Error(kPackageRefused, refusal->detail);
  }
  // What loaded with warnings (a packed stream that ends early and leaves zeros) would
  // reach every printer the application updates: only the operator may let it go out.
  if (!warnings.empty() && !(hooks.acceptWarnings && hooks.acceptWarnings(warnings))) {
    std::string detail = package +
                         " loaded with warnings, and making it all the same was not "
                         "confirmed:";
    for (const std::string& warning : warnings)
      detail += "\n" + warning;
    return RunOutcome::Error(kPackageRefused, detail);
  }
  return std::nullopt;
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
                                 const MakerHooks& hooks, RunRecord* record) {
  const std::function<void()>& checkStop = hooks.checkStop;
  if (record != nullptr) record->package.emplace().path = package;
  const std::string target = UpdateApplicationPathFor(package);
  // The package is opened once and read once, into the new application, and what is
  // checked is what was linked: a package changed on the disk meanwhile cannot slip in.
  platform::File source = platform::File::Open(package, platform::File::Mode::kRead);
  if (!source.IsOpen()) {
    return RunOutcome::Error(kPackageRefused, platform::OpenFailure(package, source.LastError()));
  }
  if (std::string tooLarge = fwp::PackageSizeProblem(package, source.Size()); !tooLarge.empty()) {
    return RunOutcome::Error(kPackageRefused, tooLarge);
  }
  if (checkStop) checkStop();
  // Copying over the package or over the running executable would destroy the very
  // bytes the copy is made from.
  if (SameFile(target, package) || SameFile(target, executable)) {
    return RunOutcome::Error("copy file error", target + " is the package or this program itself");
  }
  // Nothing appears at target until the whole application is written and checked.
  platform::ReplacingFile made = platform::ReplacingFile::Begin(target);
  if (!made.IsOpen()) {
    return RunOutcome::Error("copy file error", "can not create a file beside " + target + ": " +
                                                    platform::ErrorText(made.LastError()));
  }
  uint32_t programChecksum = 0;
  if (StepResult copied = CopyExecutable(executable, made.Output(), programChecksum, checkStop);
      !copied) {
    return RunOutcome::Error("copy file error", copied.reason);
  }
  if (checkStop) checkStop();
  if (fwp::AppendLinkedPackage(made.Output(), programChecksum, source) < 0) {
    const int error = source.LastError() != 0 ? source.LastError() : made.Output().LastError();
    return RunOutcome::Error(
        "make new update application Failed",
        "can not link " + package + " to " + target + ": " + platform::ErrorText(error));
  }
  if (checkStop) checkStop();
  // Nothing is made of a package that the update application would refuse.
  if (std::optional<RunOutcome> refused =
          CheckMadeApplication(made.TemporaryPath(), package, hooks, record)) {
    return *refused;
  }
  if (checkStop) checkStop();
  const std::optional<unsigned> permissions = platform::PermissionBits(executable);
  if (!permissions || !made.Commit(*permissions)) {
    return RunOutcome::Error("make new update application Failed",
                             "can not put the application in place as " + target + ": " +
                                 platform::ErrorText(made.LastError()));
  }
  RunOutcome outcome = RunOutcome::Success(kMakeSuccess, "Information");
  outcome.detail = FullPath(target);
  return outcome;
}

}  // namespace app
