// The program's exit statuses, and the one place where the way a run ended becomes one.
#pragma once

#include "workflow/run_record.h"

namespace app {

inline constexpr int kExitSuccess = 0;  // "Update Success!", the maker's success, --list
// Failed before anything reached the printer's flash (or the operator declined): the
// printer is as it was.
inline constexpr int kExitFailure = 1;
// A wrong command line, a printer choice that is wrong or missing, or a confirmation
// that could not be asked.
inline constexpr int kExitUsage = 2;
// Failed after the firmware image went out: the printer may hold incomplete firmware and
// the update must be run again.
inline constexpr int kExitIncomplete = 3;
inline constexpr int kExitInterrupted = 130;  // stopped by SIGINT
inline constexpr int kExitTerminated = 143;   // stopped by SIGTERM or SIGHUP

int ExitStatusOf(const RunRecord& run);

}  // namespace app
