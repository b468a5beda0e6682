#include "package/package_check.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "package/item_data.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace fwp {
namespace {

using platform::File;

std::string Cause(int error) {
  return platform::ErrorText(error);
}

void Add(PackageCheck& check, Finding::Kind kind, std::string text) {
  check.findings.push_back({kind, std::move(text)});
}

// The package's header as an update takes it (magic, printer family, kind), and its pack
// mode.
bool CheckHeader(PackageCheck& check, const PackageLayout& layout, const std::string& name) {
  const PackageHeader& header = layout.header;
  for (const HeaderRefusal& refusal : RefuseHeader(header, kPrinterFamily, kUpdateKind)) {
    check.findings.push_back({refusal.damaged ? Finding::kDamaged : Finding::kRefused, refusal.text,
                              refusal.Named(name)});
    if (refusal.damaged) return false;
  }
  if (header.packMode != kPackStored && header.packMode != kPackPacked && !layout.records.empty()) {
    Add(check, Finding::kDamaged,
        "unknown pack mode " + std::to_string(header.packMode) + ": the items extract empty");
  }
  return true;
}

void CheckNames(PackageCheck& check, const PackageLayout& layout) {
  for (const RecordFields& record : layout.records) {
    if (!IsSafeItemName(record.fileName)) {
      Add(check, Finding::kDamaged,
          "item \"" + record.fileName + "\" would be written outside the work folder");
    }
  }
  if (std::string clash = DuplicateNameProblem(layout.records); !clash.empty()) {
    Add(check, Finding::kDamaged, clash);
  }
  const int64_t total = TotalUnpackedSize(layout.records, layout.header.packMode);
  if (total > kMaxPackageUnpacked) {
    Add(check, Finding::kRefused,
        "the items unpack to " + std::to_string(total) + " bytes, more than the " +
            std::to_string(kMaxPackageUnpacked) + " a package may hold");
  }
}

// Every packed item decoded as the package object decodes it, one at a time.
void CheckPackedItems(PackageCheck& check, File& file, const PackageLayout& layout) {
  if (layout.header.packMode != kPackPacked) return;
  for (const RecordFields& record : layout.records) {
    if (file.Seek(record.dataOffset, SEEK_SET) < 0) {
      Add(check, Finding::kDamaged, "cannot read the package: " + Cause(file.LastError()));
      return;
    }
    const UnpackedItem item = UnpackItemData(file, record.dataLength);
    const std::string name = platform::FileNameOf(record.fileName);
    if (!item.Ok()) {
      Add(check, Finding::kDamaged, "item \"" + name + "\": " + item.problem);
    } else if (item.EndsEarly()) {
      Add(check, Finding::kWarning, EndsEarlyWarning(name, item));
    }
  }
}

}  // namespace

PackageSource OpenPackageSource(const std::string& path) {
  PackageSource source;
  source.path = path;
  const HeaderProbe probe = ProbePackageHeader(path);
  if (probe.error != 0) {
    source.error = platform::OpenFailure(path, probe.error);
    return source;
  }
  const LinkedPackage linked = FindLinkedPackage(path);
  if (probe.IsPackage() || !linked.marked) {
    source.package = path;
    return source;
  }
  source.linked = linked;
  if (!linked.found) {
    source.copy.problem = linked.damage;
    return source;
  }
  // Refused where it lies: a trailer may claim gigabytes.
  source.copy.problem = PackageSizeProblem(LinkedPackageName(path), linked.length);
  if (!source.copy.problem.empty()) return source;
  source.copied = platform::TempFile::Create(platform::TempFolder(), kTempPrefix);
  File out = source.copied.IsOpen() ? File::Open(source.copied.Path(), File::Mode::kCreateTruncate)
                                    : File();
  if (!out.IsOpen()) {
    source.error = "no temporary file could be made for the package of " + path + ": " +
                   Cause(source.copied.IsOpen() ? out.LastError() : source.copied.LastError());
    return source;
  }
  source.copy = CopyLinkedPackage(path, linked, out);
  if (source.copy.length < 0 || !out.Close()) {
    source.error =
        source.copy.problem.empty() ? "cannot write " + source.copied.Path() : source.copy.problem;
    return source;
  }
  source.package = source.copied.Path();
  return source;
}

std::string LinkedPackageName(const std::string& executable) {
  return "the package linked to " + executable;
}

LinkedHeaderCheck CheckLinkedHeader(const std::string& executable, const LinkedPackage& linked) {
  LinkedHeaderCheck checked;
  if (!linked.found) {
    checked.problem = linked.marked ? linked.damage : "no package is linked to " + executable;
    return checked;
  }
  File file = File::Open(executable, File::Mode::kRead);
  if (!file.IsOpen()) {
    checked.problem = platform::OpenFailure(executable, file.LastError());
    return checked;
  }
  checked.probe = ProbePackageHeader(file, linked.offset, linked.length);
  checked.problem =
      checked.probe.ProblemFor(LinkedPackageName(executable), kPrinterFamily, kUpdateKind);
  // Damage to the header reads like a package for another printer; the checksum tells
  // the two apart. A package beyond the size limit is not read for it.
  if (!checked.problem.empty() && linked.checksum && linked.length <= kMaxPackageSize) {
    const LinkedCopy sums = CheckLinkedChecksums(executable, linked);
    if (!sums.Usable() && !sums.problem.empty()) checked.problem = sums.problem;
  }
  return checked;
}

const char* FindingKindName(Finding::Kind kind) {
  switch (kind) {
    case Finding::kDamaged:
      return "damaged";
    case Finding::kRefused:
      return "refused";
    case Finding::kWarning:
      break;
  }
  return "warning";
}

bool PackageCheck::Good() const {
  for (const Finding& finding : findings) {
    if (finding.kind != Finding::kWarning) return false;
  }
  return true;
}

std::optional<PackageHeader> LinkedPackageHeader(const std::string& executable) {
  const LinkedPackage linked = FindLinkedPackage(executable);
  if (!linked.found) return std::nullopt;
  File file = File::Open(executable, File::Mode::kRead);
  if (!file.IsOpen()) return std::nullopt;
  const HeaderProbe probe = ProbePackageHeader(file, linked.offset, linked.length);
  if (probe.error != 0) return std::nullopt;
  return probe.header;
}

PackageCheck CheckPackage(const PackageSource& source) {
  if (!source.IsApplication()) return CheckPackage(source.package, source.path);
  const LinkedPackage& linked = *source.linked;
  PackageCheck check;
  if (!source.package.empty()) check = CheckPackage(source.package, LinkedPackageName(source.path));
  std::vector<Finding> first;
  if (!linked.warning.empty()) first.push_back({Finding::kWarning, linked.warning});
  if (source.package.empty()) {
    // Nothing was copied out: the trailer is damaged, or the package too large to take.
    first.push_back({linked.found ? Finding::kRefused : Finding::kDamaged, source.copy.problem});
  } else if (!source.copy.Usable()) {
    first.push_back({Finding::kDamaged, source.copy.problem});
  }
  check.findings.insert(check.findings.begin(), first.begin(), first.end());
  return check;
}

PackageCheck CheckPackage(const std::string& package, const std::string& name) {
  PackageCheck check;
  File file = File::Open(package, File::Mode::kRead);
  if (!file.IsOpen()) {
    Add(check, Finding::kDamaged, platform::OpenFailure(name, file.LastError()));
    return check;
  }
  // Refused before it is read: a file may claim gigabytes of records.
  if (std::string tooLarge = PackageSizeProblem(name, file.Size()); !tooLarge.empty()) {
    Add(check, Finding::kRefused, tooLarge);
    return check;
  }
  PackageLayout layout = ScanPackage(file);
  check.header = layout.header;
  check.items = layout.records.size();
  if (!CheckHeader(check, layout, name)) return check;
  if (!layout.Whole()) Add(check, Finding::kDamaged, layout.problem);
  if (std::string warning = EndMarkerWarning(layout); !warning.empty()) {
    Add(check, Finding::kWarning, warning);
  }
  CheckNames(check, layout);
  CheckPackedItems(check, file, layout);
  check.records = std::move(layout.records);
  return check;
}

}  // namespace fwp
