// Requests to stop what the program is doing, as its front end counts them: Ctrl-C in
// the terminal (SIGINT), SIGTERM or SIGHUP. The workflow only ever looks at the counts.
#pragma once

#include <functional>

namespace app {

struct StopRequests {
  int interrupts = 0;    // SIGINT
  int terminations = 0;  // SIGTERM, SIGHUP
};

// Counts since the program started; called often, so it must be cheap.
using StopSource = std::function<StopRequests()>;

// What ended a run early.
enum class StopCause { kNone, kInterrupt, kTermination, kWindowClosed };

// Thrown out of the session's waits and checks when a run must stop. The run's owners
// (the open printer, the extracted items, the temporary files) clean up as it unwinds;
// the form catches it.
struct RunStopped {
  StopCause cause;
};

}  // namespace app
