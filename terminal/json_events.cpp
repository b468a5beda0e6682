#include "terminal/json_events.h"

#include "terminal/exit_status.h"
#include "terminal/json_line.h"

namespace app {
namespace {

std::string StatusWord(const RunRecord& run, int exitStatus) {
  if (run.stopped != StopCause::kNone) return "stopped";
  if (run.success) return "success";
  if (run.refused) return "refused";
  if (run.message.empty()) return "declined";
  return exitStatus == kExitIncomplete ? "incomplete" : "failed";
}

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
  return {{"version", JsonText(package.versionLabel)}, {"items", std::move(items)}};
}

}  // namespace

JsonEvents::JsonEvents(std::ostream& out, Clock& clock)
    : out_(out), clock_(clock), startMs_(clock.NowMs()) {}

uint64_t JsonEvents::SinceStartMs() {
  return clock_.NowMs() - startMs_;
}

void JsonEvents::Write(const Json& event) {
  out_ << JsonLine(event) << '\n';
  out_.flush();
}

void JsonEvents::Step(const std::string& status) {
  Write({{"event", "step"}, {"time", JsonSeconds(SinceStartMs())}, {"status", JsonText(status)}});
}

void JsonEvents::Progress(const std::string& status, const ProgressFigures& figures) {
  const uint64_t now = SinceStartMs();
  if (progressSent_ && now - lastProgressMs_ < kProgressIntervalMs) return;
  progressSent_ = true;
  lastProgressMs_ = now;
  Json event = {{"event", "progress"}, {"time", JsonSeconds(now)}, {"status", JsonText(status)}};
  const bool inSection = !figures.section.empty();
  event["section"] = inSection ? JsonText(figures.section) : Json();
  event["section_percent"] = inSection ? Json(figures.sectionPercent) : Json();
  event["run_percent"] = figures.runPercent;
  event["seconds_left"] = JsonSeconds(figures.msLeft);
  Write(event);
}

void JsonEvents::Outcome(const RunRecord& run, int exitStatus) {
  Json event = {{"event", "outcome"},
                {"time", JsonSeconds(SinceStartMs())},
                {"status", StatusWord(run, exitStatus)},
                {"exit_status", exitStatus},
                {"message", JsonText(run.message)},
                {"detail", JsonText(run.detail)}};
  event["printer"] = run.printer ? PrinterObject(*run.printer) : Json();
  event["package"] = run.package ? PackageObject(*run.package) : Json();
  Json durations = {{"total", JsonSeconds(run.endedMs - run.startedMs)}};
  durations["writing"] =
      run.flashStartedMs ? JsonSeconds(run.endedMs - *run.flashStartedMs) : Json();
  event["durations"] = std::move(durations);
  Write(event);
}

}  // namespace app
