#include "workflow/update_check.h"

#include "package/package_format.h"
#include "platform/fs.h"
#include "workflow/printer_vocabulary.h"

namespace app {
namespace {

// Rule 3 on the records: the first firmware item, at its size once unpacked.
std::optional<fwp::Finding> CheckFirmware(const fwp::PackageCheck& check) {
  for (const fwp::RecordFields& record : check.records) {
    if (record.type != fwp::kFirmwareType) continue;
    const std::string problem = ImageRefusal(platform::FileNameOf(record.fileName),
                                             fwp::UnpackedSize(record, check.header.packMode));
    if (problem.empty()) return std::nullopt;
    return fwp::Finding{fwp::Finding::kRefused, problem};
  }
  return fwp::Finding{fwp::Finding::kRefused, kNoFirmwareItem};
}

UpdateCheck WithFirmware(fwp::PackageCheck package) {
  UpdateCheck check{std::move(package), std::nullopt};
  // A package whose header is refused has no records to look at.
  if (check.package.header.hasMagic && check.package.header.complete) {
    check.firmware = CheckFirmware(check.package);
  }
  return check;
}

}  // namespace

std::string HeaderRefusal(const fwp::HeaderProbe& probe, const std::string& name) {
  return probe.ProblemFor(name, fwp::kPrinterFamily, fwp::kUpdateKind);
}

std::string ImageRefusal(const std::string& name, int64_t size) {
  if (size == 0) return "frw image " + name + " is empty: an empty image is never an update";
  if (size <= kImageLimit) return {};
  return "frw image " + name + " is " + std::to_string(size) + " bytes, more than the " +
         std::to_string(kImageLimit) + " the printer takes";
}

std::optional<UpdateCheck::Refusal> UpdateCheck::PackageRefusal() const {
  for (const fwp::Finding& finding : package.findings) {
    if (finding.kind != fwp::Finding::kWarning) return Refusal{kPackageRefused, finding.Detail()};
  }
  return std::nullopt;
}

std::vector<std::string> UpdateCheck::Warnings() const {
  std::vector<std::string> warnings;
  for (const fwp::Finding& finding : package.findings) {
    if (finding.kind == fwp::Finding::kWarning) warnings.push_back(finding.text);
  }
  return warnings;
}

std::vector<ItemSize> UpdateCheck::Items() const {
  std::vector<ItemSize> items;
  for (const fwp::RecordFields& record : package.records) {
    items.push_back({record.type, platform::FileNameOf(record.fileName),
                     fwp::UnpackedSize(record, package.header.packMode)});
  }
  return items;
}

std::optional<UpdateCheck::Refusal> UpdateCheck::FirstRefusal() const {
  if (std::optional<Refusal> refusal = PackageRefusal()) return refusal;
  if (firmware) return Refusal{kFirmwareRefused, firmware->text};
  return std::nullopt;
}

UpdateCheck CheckForUpdate(const std::string& package, const std::string& name) {
  return WithFirmware(fwp::CheckPackage(package, name));
}

UpdateCheck CheckForUpdate(const fwp::PackageSource& source) {
  return WithFirmware(fwp::CheckPackage(source));
}

}  // namespace app
