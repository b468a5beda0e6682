#include "terminal/json_events.h"

#include "terminal/exit_status.h"
#include "terminal/json_writer.h"

namespace app {
namespace {

std::string StatusWord(const RunRecord& run, int exitStatus) {
  if (run.stopped != StopCause::kNone) return "stopped";
  if (run.success) return "success";
  if (run.refused) return "refused";
  if (run.message.empty()) return "declined";
  return exitStatus == kExitIncomplete ? "incomplete" : "failed";
}

JsonObject PrinterObject(const PrinterInfo& printer) {
  return JsonObject()
      .Text("port_path", printer.portPath)
      .Text("serial", printer.serial)
      .Text("node", printer.openPath)
      .Text("id", printer.id);
}

JsonObject PackageObject(const PackageFacts& package) {
  std::vector<JsonObject> items;
  for (const ItemSize& item : package.items) {
    items.push_back(
        JsonObject().Text("type", item.type).Text("file", item.fileName).Number("size", item.size));
  }
  return JsonObject().Text("version", package.versionLabel).Array("items", items);
}

}  // namespace

JsonEvents::JsonEvents(std::ostream& out, Clock& clock)
    : out_(out), clock_(clock), startMs_(clock.NowMs()) {}

uint64_t JsonEvents::SinceStartMs() {
  return clock_.NowMs() - startMs_;
}

void JsonEvents::Write(const std::string& line) {
  out_ << line << '\n';
  out_.flush();
}

void JsonEvents::Step(const std::string& status) {
  Write(JsonObject()
            .Text("event", "step")
            .Seconds("time", SinceStartMs())
            .Text("status", status)
            .Str());
}

void JsonEvents::Progress(const std::string& status, const ProgressFigures& figures) {
  const uint64_t now = SinceStartMs();
  if (progressSent_ && now - lastProgressMs_ < kProgressIntervalMs) return;
  progressSent_ = true;
  lastProgressMs_ = now;
  JsonObject event;
  event.Text("event", "progress").Seconds("time", now).Text("status", status);
  if (figures.section.empty()) {
    event.Null("section").Null("section_percent");
  } else {
    event.Text("section", figures.section).Number("section_percent", figures.sectionPercent);
  }
  event.Number("run_percent", figures.runPercent).Seconds("seconds_left", figures.msLeft);
  Write(event.Str());
}

void JsonEvents::Outcome(const RunRecord& run, int exitStatus) {
  JsonObject event;
  event.Text("event", "outcome")
      .Seconds("time", SinceStartMs())
      .Text("status", StatusWord(run, exitStatus))
      .Number("exit_status", exitStatus)
      .Text("message", run.message)
      .Text("detail", run.detail);
  if (run.printer) {
    event.Object("printer", PrinterObject(*run.printer));
  } else {
    event.Null("printer");
  }
  if (run.package) {
    event.Object("package", PackageObject(*run.package));
  } else {
    event.Null("package");
  }
  JsonObject durations;
  durations.Seconds("total", run.endedMs - run.startedMs);
  if (run.flashStartedMs) {
    durations.Seconds("writing", run.endedMs - *run.flashStartedMs);
  } else {
    durations.Null("writing");
  }
  event.Object("durations", durations);
  Write(event.Str());
}

}  // namespace app
