#include "app/history_adapter.h"

#include "platform/fs.h"
#include "terminal/exit_status.h"
#include "terminal/json_events.h"

namespace app {

history::HistoryRecord HistoryRecordOf(const RunRecord& run) {
  history::HistoryRecord record;
  record.programVersion = ProgramVersion();
  if (run.printer) {
    record.serial = run.printer->serial;
    record.portPath = run.printer->portPath;
  }
  if (run.package) {
    record.packageFile = platform::FileNameOf(run.package->path);
    if (std::string sha256 = PackageSha256(*run.package); !sha256.empty()) {
      record.packageSha256 = std::move(sha256);
    }
    record.packageVersion = run.package->versionLabel;
  }
  record.status = OutcomeStatus(run);
  record.exitStatus = ExitStatusOf(run);
  if (!run.message.empty()) record.message = run.message;
  record.totalSeconds = static_cast<double>(run.endedMs - run.startedMs) / 1000;
  if (run.flashStartedMs) {
    record.writingSeconds = static_cast<double>(run.endedMs - *run.flashStartedMs) / 1000;
  }
  return record;
}

std::string HistoryAdapter::Record(const RunRecord& run) {
  history::AppendOutcome written = history_.Append(HistoryRecordOf(run));
  if (written.written) return {};
  return written.problem.empty() ? "it could not be written" : written.problem;
}

std::optional<PastUpdate> HistoryAdapter::LatestFor(const std::string& serial,
                                                    std::vector<std::string>& warnings) {
  std::optional<history::HistoryRecord> latest = history_.LatestFor(serial, &warnings);
  if (!latest) return std::nullopt;
  return PastUpdate{latest->timeUtc, latest->status, latest->packageSha256, latest->packageVersion};
}

}  // namespace app
