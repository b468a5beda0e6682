// The maker: an update application made of a copy of the running executable with an
// update package linked to its end.
#pragma once

#include <functional>
#include <string>

#include "workflow/outcome.h"

namespace app {

inline constexpr char kMakeSuccess[] = "make new update application Success";

// Where the update application for package goes: beside it, pkg.fwp gives pkg.run.
std::string UpdateApplicationPathFor(const std::string& package);

// Makes the update application for package from executable. The package is read once,
// into a new file beside the target, with the CRC-32 of the program part and of the
// package in the trailer; the package is then checked where it lies in that file as the
// update will check it (the checksums, an update for "VRQPrinter", every item loaded into
// a scratch folder that goes again). What cannot work is refused with "Error fwp data!"
// and nothing appears at the target. The outcome holds the operator's texts, the new
// file's full path as the success's detail; result is 0. checkStop runs between the
// pieces of the work and may throw to stop it; whatever way the maker ends, the only
// file it leaves is a complete, checked application.
RunOutcome MakeUpdateApplication(const std::string& executable, const std::string& package,
                                 const std::function<void()>& checkStop = {});

}  // namespace app
