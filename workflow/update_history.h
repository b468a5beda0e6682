// The update history, as the workflow sees it: every update that opened a printer is
// recorded once it has ended, whichever way it ended. The front end gives the place
// where records go (a file of JSON lines on a Linux desktop); the workflow only reports.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workflow/run_record.h"

namespace app {

// An earlier update of a printer, as far as a rerun needs to know it.
struct PastUpdate {
  std::string timeUtc;  // "2024-05-01T09:30:00Z"
  std::string status;   // the outcome's status: "success", "failed"...
  std::optional<std::string> packageSha256;
  std::string packageVersion;
};

class UpdateHistory {
 public:
  virtual ~UpdateHistory() = default;
  // Records run, an update that opened run.printer. Returns "" when it is recorded,
  // else why not, in words for a warning. Never throws.
  virtual std::string Record(const RunRecord& run) = 0;
  // The newest update of the printer with this serial number (none for ""); what could
  // not be read on the way (a damaged line) is added to warnings. Never throws.
  virtual std::optional<PastUpdate> LatestFor(const std::string& serial,
                                              std::vector<std::string>& warnings) = 0;
};

// The warning of a run that could not be recorded ("the update is not in the update
// history: WHY"), among the run's warnings and, after "Warning: ", a notice. It never
// changes how the update ended.
std::string HistoryWarning(const std::string& problem);

}  // namespace app
