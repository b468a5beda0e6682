#include "terminal/package_check_run.h"

#include <cstdio>
#include <vector>

#include "package/linked_package.h"
#include "package/package_check.h"
#include "platform/fs.h"
#include "platform/printable_text.h"
#include "terminal/exit_status.h"
#include "terminal/json_events.h"
#include "terminal/json_line.h"
#include "workflow/clock.h"
#include "workflow/flash_pacing.h"
#include "workflow/printer_vocabulary.h"
#include "workflow/run_record.h"
#include "workflow/text_tools.h"
#include "workflow/update_check.h"

namespace app {
namespace {

// What the printer's USB full-speed bulk pipe carries at most: 19 packets of 64 bytes in
// every 1 ms frame. The paced waits do not cover the writes themselves.
constexpr int64_t kWireBytesPerMs = 19 * 64;

// A refusal, in the words the update itself would end with.
struct Refusal {
  std::string text;
  std::string detail;
};

constexpr char kReadyForThePrinter[] = "ready for the printer";

std::string Quoted(const std::string& text) {
  return "\"" + platform::Printable(text) + "\"";
}

std::string Seconds(uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
  return text;
}

std::string Blocks(int64_t size, int64_t blockSize) {
  const int64_t blocks = (size + blockSize - 1) / blockSize;
  const std::string most = blockSize % (1 << 20) == 0 ? std::to_string(blockSize >> 20) + " MiB"
                                                      : std::to_string(blockSize >> 10) + " KiB";
  return std::to_string(blocks) + (blocks == 1 ? " block" : " blocks") + " of up to " + most;
}

// The state of a checksum that the copy just made has passed, or that the trailer lacks.
std::string ChecksumWords(bool present) {
  return present ? "good" : "none (made before update applications carried one)";
}

// What a request to stop ends the check with; nullopt while there is none.
std::optional<StopCause> StopCauseOf(const StopSource& stops) {
  const StopRequests requests = stops ? stops() : StopRequests{};
  if (requests.terminations > 0) return StopCause::kTermination;
  if (requests.interrupts > 0) return StopCause::kInterrupt;
  return std::nullopt;
}

// What the check found, for the report and for the JSON outcome.
struct CheckResult {
  std::optional<Refusal> refusal;
  UpdateCheck checked;
  bool checkedPackage = false;  // checked holds the package's check
  std::vector<fwp::Finding> findings;
  std::vector<std::string> warnings;
  PackageFacts package;
};

// Whether a linked package's trouble is damage to the application or a sound package an
// update refuses (another printer or kind, larger than a package may be).
fwp::Finding::Kind LinkedProblemKind(const fwp::LinkedHeaderCheck& checked,
                                     const std::string& executable,
                                     const fwp::LinkedPackage& linked) {
  if (!linked.found || !checked.probe.header.hasMagic || !checked.probe.header.complete) {
    return fwp::Finding::kDamaged;
  }
  const std::string headerProblem = checked.probe.ProblemFor(fwp::LinkedPackageName(executable),
                                                             fwp::kPrinterFamily, fwp::kUpdateKind);
  return checked.problem == headerProblem ? fwp::Finding::kRefused : fwp::Finding::kDamaged;
}

// The linked package, checked where it lies and copied out as the update copies it; its
// checksums compared on the way.
std::optional<Refusal> CopyLinkedPackage(const std::string& executable, platform::TempFile& copy,
                                         CheckResult& result, std::ostream& out,
                                         const StopSource& stops) {
  const fwp::LinkedPackage linked = fwp::FindLinkedPackage(executable);
  if (!linked.marked) {
    Refusal refusal{"no found resource file",
                    executable +
                        " carries no linked package; check a package file with "
                        "vrq-update --check FILE"};
    result.findings.push_back({fwp::Finding::kRefused, refusal.detail});
    return refusal;
  }
  if (linked.found) {
    result.package.offset = linked.offset;
    result.package.length = linked.length;
  }
  if (const fwp::LinkedHeaderCheck checked = fwp::CheckLinkedHeader(executable, linked);
      !checked.problem.empty()) {
    result.package.versionLabel = checked.probe.header.versionLabel;
    result.findings.push_back({LinkedProblemKind(checked, executable, linked), checked.problem});
    return Refusal{kPackageRefused, checked.problem};
  }
  std::string problem;
  copy = fwp::ExtractLinkedPackageToTemp(executable, linked, &problem,
                                         [&stops] { return StopCauseOf(stops).has_value(); });
  if (!copy.IsOpen()) {
    result.findings.push_back({fwp::Finding::kDamaged, problem});
    return Refusal{kPackageRefused, problem};
  }
  out << "update application " << executable << ": package of " << linked.length
      << " bytes, checksum " << ChecksumWords(linked.checksum.has_value()) << ", program checksum "
      << ChecksumWords(linked.programChecksum.has_value()) << "\n";
  if (!linked.warning.empty()) {
    out << "warning: " << linked.warning << "\n";
    result.findings.push_back({fwp::Finding::kWarning, linked.warning});
    result.warnings.push_back(linked.warning);
  }
  return std::nullopt;
}

// What the update asks of the package before and after it opens the printer
// (workflow/update_check.h), without writing its items out.
std::optional<Refusal> CheckPackage(const std::string& path, const std::string& name,
                                    CheckResult& result) {
  result.checked = CheckForUpdate(path, name);
  result.checkedPackage = true;
  const UpdateCheck& checked = result.checked;
  result.findings.insert(result.findings.end(), checked.package.findings.begin(),
                         checked.package.findings.end());
  if (checked.firmware) result.findings.push_back(*checked.firmware);
  const std::vector<std::string> warnings = checked.Warnings();
  result.warnings.insert(result.warnings.end(), warnings.begin(), warnings.end());
  result.package.versionLabel = checked.package.header.versionLabel;
  result.package.items = checked.Items();
  if (const std::optional<UpdateCheck::Refusal> refusal = checked.FirstRefusal()) {
    return Refusal{refusal->box, refusal->detail};
  }
  return std::nullopt;
}

void Report(const fwp::PackageCheck& check, std::ostream& out) {
  const fwp::PackageHeader& header = check.header;
  out << "package: version " << Quoted(header.versionLabel) << ", "
      << (header.packMode == fwp::kPackPacked ? "packed" : "stored") << ", " << check.records.size()
      << " items\n";
  std::vector<ItemSize> items;
  int64_t wireBytes = 0;
  for (const fwp::RecordFields& record : check.records) {
    const std::string name = platform::FileNameOf(record.fileName);
    const int64_t size = fwp::UnpackedSize(record, header.packMode);
    items.push_back({record.type, name, size});
    if (record.type == fwp::kFirmwareType && wireBytes == 0) {
      out << "firmware: " << platform::Printable(name) << ", " << size << " bytes\n";
      wireBytes = size;
    }
  }
  const FlashPlan plan(items);
  for (const FlashPlan::Section& section : plan.Sections()) {
    out << "section " << section.type << ": " << section.size << " bytes, "
        << Blocks(section.size, section.blockSize) << "\n";
    wireBytes += HexTextChars(section.size);
  }
  for (const fwp::Finding& finding : check.findings) {
    if (finding.kind == fwp::Finding::kWarning)
      out << "warning: " << platform::Printable(finding.text) << "\n";
  }
  const uint64_t wireMs = static_cast<uint64_t>(wireBytes / kWireBytesPerMs);
  out << "flash time: " << Seconds(plan.TotalMs() + wireMs)
      << " from the firmware image to \"LINK\" (" << Seconds(plan.TotalMs()) << " of paced waits, "
      << Seconds(wireMs) << " for " << wireBytes
      << " bytes at USB full speed; the printer's restart and block writes come on top)\n";
}

// The outcome object of --check --json: an outcome with no printer, and the findings.
void WriteOutcome(const CheckResult& result, int status, uint64_t startMs, uint64_t endMs,
                  std::ostream& out) {
  RunRecord run;
  run.success = !result.refusal;
  run.message = result.refusal ? result.refusal->text : kReadyForThePrinter;
  run.detail = result.refusal ? OneLine(result.refusal->detail) : std::string();
  run.warnings = result.warnings;
  run.package = result.package;
  run.startedMs = startMs;
  run.endedMs = endMs;
  Json findings = Json::array();
  for (const fwp::Finding& finding : result.findings) {
    findings.push_back(
        {{"kind", fwp::FindingKindName(finding.kind)}, {"text", JsonText(finding.Detail())}});
  }
  Json outcome = OutcomeJson(run, status, endMs - startMs);
  outcome["findings"] = std::move(findings);
  out << JsonLine(outcome) << '\n';
  out.flush();
}

}  // namespace

int RunPackageCheck(const std::string& executable, const std::optional<std::string>& file,
                    std::ostream& out, std::ostream& err, bool json, const StopSource& stops) {
  SteadyClock clock;
  const uint64_t startMs = clock.NowMs();
  // With --json, standard output carries the outcome alone; the report goes beside it.
  std::ostream& report = json ? err : out;
  CheckResult result;
  result.package.path = file.value_or(executable);
  platform::TempFile copy;
  if (!file) result.refusal = CopyLinkedPackage(executable, copy, result, report, stops);
  if (!result.refusal && !StopCauseOf(stops)) {
    result.refusal = file ? CheckPackage(*file, *file, result)
                          : CheckPackage(copy.Path(), fwp::LinkedPackageName(executable), result);
  }
  if (const std::optional<StopCause> cause = StopCauseOf(stops)) {
    copy.Remove();
    err << "Stopped.\n";
    RunRecord stopped;
    stopped.stopped = *cause;
    stopped.message = "Stopped.";
    stopped.package = result.package;
    stopped.startedMs = startMs;
    stopped.endedMs = clock.NowMs();
    const int status = ExitStatusOf(stopped);
    if (json) {
      out << JsonLine(OutcomeJson(stopped, status, stopped.endedMs - startMs)) << '\n';
      out.flush();
    }
    return status;
  }
  const int status = result.refusal ? kExitFailure : kExitSuccess;
  if (result.refusal) {
    err << "Error: " << result.refusal->text << "\n  "
        << platform::Printable(OneLine(result.refusal->detail)) << "\n";
  } else {
    Report(result.checked.package, report);
    report << kReadyForThePrinter << "\n";
  }
  if (json) WriteOutcome(result, status, startMs, clock.NowMs(), out);
  return status;
}

std::string LinkedPackageVersionLine(const std::string& executable) {
  const fwp::LinkedPackage linked = fwp::FindLinkedPackage(executable);
  if (linked.marked && !linked.found) {
    return "package version: (the update application is damaged: fetch it again)";
  }
  const std::optional<fwp::PackageHeader> header = fwp::LinkedPackageHeader(executable);
  if (!header) return {};
  if (!header->hasMagic) return "package version: (the linked package is no update package)";
  return "package version: " + platform::Printable(header->versionLabel);
}

}  // namespace app
