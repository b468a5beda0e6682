#include "terminal/history_run.h"

#include "platform/printable_text.h"
#include "terminal/exit_status.h"
#include "workflow/text_tools.h"

namespace app {

int ShowHistory(const history::ReadOutcome& read, bool json, std::ostream& out, std::ostream& err) {
  for (const std::string& warning : read.warnings)
    err << "vrq-update: warning: " << platform::Printable(warning) << '\n';
  if (json) {
    // Every record is one JSON object of its own already; the array joins them.
    out << '[';
    for (size_t i = 0; i < read.records.size(); ++i)
      out << (i == 0 ? "" : ",") << history::RecordJson(read.records[i]);
    out << "]\n";
    return kExitSuccess;
  }
  std::vector<std::vector<std::string>> rows = {
      {"TIME (UTC)", "SERIAL", "USB PORT", "PACKAGE", "VERSION", "STATUS"}};
  for (const history::HistoryRecord& record : read.records) {
    rows.push_back(
        {platform::Printable(record.timeUtc),
         record.serial.empty() ? "-" : platform::Printable(record.serial),
         platform::Printable(record.portPath), platform::Printable(record.packageFile),
         record.packageVersion.empty() ? "-" : platform::Printable(record.packageVersion),
         platform::Printable(record.status)});
  }
  // Each cell escaped before the columns are aligned, so that no byte of a printer's or a
  // package's text can break a row.
  out << AlignedColumns(rows);
  return kExitSuccess;
}

SkipCheck CheckSkipUpdated(const PrinterInfo& printer, const PackageFacts& package,
                           const std::string& sha256, UpdateHistory& history) {
  SkipCheck check;
  if (printer.serial.empty()) {
    check.note = kNoSerialSoUpdated;
    return check;
  }
  if (sha256.empty()) return check;
  const std::optional<PastUpdate> latest = history.LatestFor(printer.serial, check.warnings);
  if (!latest || latest->status != "success" || latest->packageSha256 != sha256) return check;
  check.unchanged = true;
  RunRecord& run = check.run;
  run.unchanged = true;
  run.printer = printer;
  run.package = package;
  run.package->versionLabel = latest->packageVersion;
  run.message = kAlreadyUpdated;
  run.detail = "the printer (serial " + printer.serial + ") was updated with it at " +
               latest->timeUtc + "; nothing was written to it";
  run.warnings = check.warnings;
  return check;
}

}  // namespace app
