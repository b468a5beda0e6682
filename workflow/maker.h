// The maker: an update application made of a copy of the running executable with an
// update package linked to its end.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "workflow/outcome.h"
#include "workflow/run_record.h"

namespace app {

inline constexpr char kMakeSuccess[] = "make new update application Success";

// Where the update application for package goes: beside it, pkg.fwp gives pkg.run.
std::string UpdateApplicationPathFor(const std::string& package);

// What the maker asks of whoever runs it while it works.
struct MakerHooks {
  // Runs between the pieces of the work and may throw to stop it.
  std::function<void()> checkStop;
  // The package loaded with these warnings: true to make the application all the same.
  // Without an answer the maker makes nothing.
  std::function<bool(const std::vector<std::string>& warnings)> acceptWarnings;
};

// Makes the update application for package from executable. The package is read once,
// into a new file beside the target, with the CRC-32 of the program part and of the
// package in the trailer; the package is then checked where it lies in that file through
// the one check of workflow/update_check.h (the checksums, an update for "VRQPrinter",
// every item loaded into a scratch folder that goes again, the firmware item). What an
// update would refuse is refused with "Error fwp data!", and so is a package that loaded
// with warnings unless hooks.acceptWarnings says yes; nothing appears at the target then.
// The outcome holds the operator's texts, the new file's full path as the success's
// detail; result is 0. Whatever way the maker ends, the only file it leaves is a
// complete, checked application. record, when given, hears the package as the operator
// named it, and once checked its version label, items and warnings.
RunOutcome MakeUpdateApplication(const std::string& executable, const std::string& package,
                                 const MakerHooks& hooks = {}, RunRecord* record = nullptr);

}  // namespace app
