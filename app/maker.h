// The maker: an update application made of a copy of the running executable with an
// update package linked to its end.
#pragma once

#include <functional>
#include <string>

#include "app/outcome.h"

namespace app {

inline constexpr char kMakeSuccess[] = "make new update application Success";

// Makes the update application for package beside it (pkg.fwp gives pkg.run) from
// executable. The outcome holds the operator's texts; result is 0. checkStop runs between
// the pieces of the work and may throw to stop it; whatever way the maker ends, the only
// file it leaves is a complete application.
RunOutcome MakeUpdateApplication(const std::string& executable, const std::string& package,
                                 const std::function<void()>& checkStop = {});

}  // namespace app
