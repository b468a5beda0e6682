#include "terminal/all_printers_json.h"

#include "terminal/exit_status.h"
#include "terminal/json_events.h"
#include "workflow/Unit_mainform.h"

namespace app {
namespace {

std::string TextOf(const Json& object, const char* key) {
  const auto found = object.is_object() ? object.find(key) : object.end();
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

Json Summary(const std::string& status, int exitStatus, uint64_t timeMs, const std::string& message,
             const std::string& detail, Json printers) {
  return {{"schema", kJsonSchema},
          {"event", "summary"},
          {"time", JsonSeconds(timeMs)},
          {"program_version", ProgramVersion()},
          {"status", status},
          {"exit_status", exitStatus},
          {"message", JsonText(message)},
          {"detail", JsonText(detail)},
          {"printers", std::move(printers)}};
}

}  // namespace

Json MissingOutcomeJson(const AllPrinters::Job& job, const PackageFacts& package, uint64_t timeMs) {
  RunRecord run;
  run.printer = job.printer;
  run.package = package;
  run.startedMs = job.startMs;
  run.endedMs = job.endMs;
  run.flashReached = job.imageSent;
  switch (job.exitStatus) {
    case kExitSuccess:
      run.success = true;
      break;
    case kExitUsage:
      run.refused = true;
      break;
    case kExitInterrupted:
      run.stopped = StopCause::kInterrupt;
      break;
    case kExitTerminated:
      run.stopped = StopCause::kTermination;
      break;
    default:
      break;
  }
  run.message = job.started ? "its update ended with exit status " +
                                  std::to_string(job.exitStatus) + " and said nothing more"
                            : "its update could not start";
  run.detail = job.lastError;
  return OutcomeJson(run, job.exitStatus, timeMs);
}

Json AllSummaryJson(const std::vector<AllPrinters::Job>& jobs, int exitStatus, uint64_t timeMs) {
  Json printers = Json::array();
  std::string status = "success";
  int worst = -1;
  size_t notUpdated = 0;
  for (const AllPrinters::Job& job : jobs) {
    const std::string printerStatus = TextOf(job.outcome, "status");
    printers.push_back(
        {{"port_path", JsonText(job.printer.portPath)},
         {"serial", JsonText(job.printer.serial)},
         {"status", printerStatus.empty() ? "failed" : printerStatus},
         {"exit_status", job.exitStatus},
         {"message", JsonText(job.message.empty() ? TextOf(job.outcome, "message") : job.message)},
         {"detail", JsonText(TextOf(job.outcome, "detail"))},
         {"seconds", JsonSeconds(job.endMs - job.startMs)}});
    if (job.exitStatus != kExitSuccess) ++notUpdated;
    if (job.exitStatus > worst) {
      worst = job.exitStatus;
      if (job.exitStatus != kExitSuccess) status = printers.back()["status"].get<std::string>();
    }
  }
  std::string message = "Update Success!";
  if (jobs.size() == 1 && notUpdated == 1) {
    message = "The printer was not updated";
  } else if (notUpdated > 0) {
    message = std::to_string(notUpdated) + " of " + std::to_string(jobs.size()) + " printers " +
              (notUpdated == 1 ? "was" : "were") + " not updated";
  }
  return Summary(status, exitStatus, timeMs, message, "", std::move(printers));
}

Json AllSummaryJson(const RunRecord& run, int exitStatus, uint64_t timeMs) {
  return Summary(OutcomeStatus(run), exitStatus, timeMs,
                 run.message.empty() ? std::string(kNotUpdated) : run.message, run.detail,
                 Json::array());
}

}  // namespace app
