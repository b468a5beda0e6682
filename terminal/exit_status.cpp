#include "terminal/exit_status.h"

namespace app {

int ExitStatusOf(const RunRecord& run) {
  switch (run.stopped) {
    case StopCause::kInterrupt:
    case StopCause::kWindowClosed:
      return kExitInterrupted;
    case StopCause::kTermination:
      return kExitTerminated;
    case StopCause::kNone:
      break;
  }
  if (run.success || run.unchanged) return kExitSuccess;
  if (run.refused) return kExitUsage;
  return run.flashReached ? kExitIncomplete : kExitFailure;
}

}  // namespace app
