#include "terminal/package_check_run.h"

#include <cstdio>
#include <vector>

#include "package/linked_package.h"
#include "package/package_check.h"
#include "platform/fs.h"
#include "platform/printable_text.h"
#include "terminal/exit_status.h"
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

// The linked package, checked where it lies and copied out as the update copies it; its
// checksums compared on the way.
std::optional<Refusal> CopyLinkedPackage(const std::string& executable, platform::TempFile& copy,
                                         std::ostream& out) {
  const fwp::LinkedPackage linked = fwp::FindLinkedPackage(executable);
  if (!linked.marked) {
    return Refusal{"no found resource file",
                   executable +
                       " carries no linked package; check a package file with "
                       "vrq-update --check FILE"};
  }
  if (std::string problem = fwp::CheckLinkedHeader(executable, linked).problem; !problem.empty()) {
    return Refusal{kPackageRefused, problem};
  }
  std::string problem;
  copy = fwp::ExtractLinkedPackageToTemp(executable, linked, &problem);
  if (!copy.IsOpen()) return Refusal{kPackageRefused, problem};
  out << "update application " << executable << ": package of " << linked.length
      << " bytes, checksum " << ChecksumWords(linked.checksum.has_value()) << ", program checksum "
      << ChecksumWords(linked.programChecksum.has_value()) << "\n";
  if (!linked.warning.empty()) out << "warning: " << linked.warning << "\n";
  return std::nullopt;
}

// What the update asks of the package before and after it opens the printer
// (workflow/update_check.h), without writing its items out.
std::optional<Refusal> CheckPackage(const std::string& path, const std::string& name,
                                    fwp::PackageCheck& check) {
  UpdateCheck checked = CheckForUpdate(path, name);
  if (const std::optional<UpdateCheck::Refusal> refusal = checked.FirstRefusal()) {
    return Refusal{refusal->box, refusal->detail};
  }
  check = std::move(checked.package);
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

}  // namespace

int RunPackageCheck(const std::string& executable, const std::optional<std::string>& file,
                    std::ostream& out, std::ostream& err) {
  platform::TempFile copy;
  std::optional<Refusal> refusal;
  if (!file) refusal = CopyLinkedPackage(executable, copy, out);
  fwp::PackageCheck check;
  if (!refusal) {
    refusal = file ? CheckPackage(*file, *file, check)
                   : CheckPackage(copy.Path(), fwp::LinkedPackageName(executable), check);
  }
  if (refusal) {
    err << "Error: " << refusal->text << "\n  " << platform::Printable(OneLine(refusal->detail))
        << "\n";
    return kExitFailure;
  }
  Report(check, out);
  out << "ready for the printer\n";
  return kExitSuccess;
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
