#include "terminal/json_events.h"

#include "package/checksum.h"
#include "terminal/json_line.h"

#ifndef VRQ_VERSION
#define VRQ_VERSION "0"
#endif

namespace app {
namespace {

Json PrinterObject(const PrinterInfo& printer) {
  return {{"port_path", JsonText(printer.portPath)},
          {"serial", JsonText(printer.serial)},
          {"node", JsonText(printer.openPath)},
          {"id", JsonText(printer.id)}};
}

Json PackageObject(const PackageFacts& package) {
  Json items = Json::array();
  for (const ItemSize& item : package.items) {
    items.push_back(
        {{"type", JsonText(item.type)}, {"file", JsonText(item.fileName)}, {"size", item.size}});
  }
  const std::string sha256 = PackageSha256(package);
  return {{"path", JsonText(package.path)},
          {"sha256", sha256.empty() ? Json() : Json(sha256)},
          {"version", JsonText(package.versionLabel)},
          {"items", std::move(items)}};
}

// A run that ended without a word to the operator still says something.
std::string MessageOf(const RunRecord& run, const std::string& status) {
  if (!run.message.empty()) return run.message;
  if (status == "success") return "Done.";
  if (status == "stopped" || status == "stopped_after_image") return "Stopped.";
  return "Not updated.";
}

}  // namespace

const char* ProgramVersion() {
  return VRQ_VERSION;
}

std::string OutcomeStatus(const RunRecord& run) {
  if (run.stopped != StopCause::kNone) return run.flashReached ? "stopped_after_image" : "stopped";
  if (run.success) return "success";
  if (run.refused) return "refused";
  if (run.declined) return "declined";
  return run.flashReached ? "failed_after_image" : "failed";
}

std::string PackageSha256(const PackageFacts& package) {
  if (package.path.empty()) return {};
  const fwp::FileSha256 hash =
      package.length ? fwp::Sha256OfFileRange(package.path, package.offset, *package.length)
                     : fwp::Sha256OfFile(package.path);
  return hash.hex;
}

Json OutcomeJson(const RunRecord& run, int exitStatus, uint64_t timeMs) {
  const std::string status = OutcomeStatus(run);
  Json warnings = Json::array();
  for (const std::string& warning : run.warnings)
    warnings.push_back(JsonText(warning));
  Json durations = {{"total", JsonSeconds(run.endedMs - run.startedMs)}};
  durations["writing"] =
      run.flashStartedMs ? JsonSeconds(run.endedMs - *run.flashStartedMs) : Json();
  return {{"schema", kJsonSchema},
          {"event", "outcome"},
          {"time", JsonSeconds(timeMs)},
          {"program_version", ProgramVersion()},
          {"status", status},
          {"exit_status", exitStatus},
          {"message", JsonText(MessageOf(run, status))},
          {"detail", JsonText(run.detail)},
          {"warnings", std::move(warnings)},
          {"printer", run.printer ? PrinterObject(*run.printer) : Json()},
          {"package", run.package ? PackageObject(*run.package) : Json()},
          {"durations", std::move(durations)}};
}

JsonEvents::JsonEvents(std::ostream& out, Clock& clock)
    : out_(out), clock_(clock), startMs_(clock.NowMs()) {}

uint64_t JsonEvents::SinceStartMs() {
  return clock_.NowMs() - startMs_;
}

void JsonEvents::Write(const Json& object) {
  out_ << JsonLine(object) << '\n';
  out_.flush();
}

void JsonEvents::Step(const std::string& status) {
  Write({{"schema", kJsonSchema},
         {"event", "step"},
         {"time", JsonSeconds(SinceStartMs())},
         {"status", JsonText(status)}});
}

void JsonEvents::Progress(const std::string& status, const ProgressFigures& figures) {
  const uint64_t now = SinceStartMs();
  if (progressSent_ && now - lastProgressMs_ < kProgressIntervalMs) return;
  progressSent_ = true;
  lastProgressMs_ = now;
  Json event = {{"schema", kJsonSchema},
                {"event", "progress"},
                {"time", JsonSeconds(now)},
                {"status", JsonText(status)}};
  const bool inSection = !figures.section.empty();
  event["section"] = inSection ? JsonText(figures.section) : Json();
  event["section_percent"] = inSection ? Json(figures.sectionPercent) : Json();
  event["run_percent"] = figures.runPercent;
  event["seconds_left"] = JsonSeconds(figures.msLeft);
  Write(event);
}

void JsonEvents::Outcome(const RunRecord& run, int exitStatus, const Json& extra) {
  Json event = OutcomeJson(run, exitStatus, SinceStartMs());
  for (const auto& [key, value] : extra.items())
    event[key] = value;
  Write(event);
}

}  // namespace app
