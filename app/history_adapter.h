// The update history of this machine's user (history/) behind the workflow's seam: a
// record per update, with the status and exit status the run ends with.
#pragma once

#include "history/history.h"
#include "workflow/update_history.h"

namespace app {

// The record of run as the history keeps it: the printer, the package (file name,
// SHA-256, version label), the outcome's status and exit status, the durations.
history::HistoryRecord HistoryRecordOf(const RunRecord& run);

class HistoryAdapter final : public UpdateHistory {
 public:
  explicit HistoryAdapter(history::Location where) : history_(std::move(where)) {}
  std::string Record(const RunRecord& run) override;
  std::optional<PastUpdate> LatestFor(const std::string& serial,
                                      std::vector<std::string>& warnings) override;

 private:
  history::History history_;
};

}  // namespace app
