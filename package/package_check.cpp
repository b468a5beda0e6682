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
  return std::strerror(error != 0 ? error : EIO);
}

void Add(PackageCheck& check, Finding::Kind kind, std::string text) {
  check.findings.push_back({kind, std::move(text)});
}

// The package's pack mode, printer family and kind, as the update procedure wants them.
bool CheckHeader(PackageCheck& check, const PackageLayout& layout) {
  const PackageHeader& header = layout.header;
  if (std::string problem = HeaderProblem(header); !problem.empty()) {
    Add(check, Finding::kDamaged,
        header.hasMagic ? problem : "not an update package (no \"OP FILE 1.00\" header)");
    return false;
  }
  if (header.printerName != kPrinterFamily) {
    Add(check, Finding::kRefused,
        "made for the printer \"" + header.printerName + "\", not \"" + kPrinterFamily + "\"");
  }
  if (header.packageKind != kUpdateKind) {
    Add(check, Finding::kRefused,
        "a package of the kind \"" + header.packageKind + "\", not \"" + kUpdateKind + "\"");
  }
  if (header.packMode != kPackStored && header.packMode != kPackPacked && !layout.records.empty()) {
    Add(check, Finding::kDamaged,
        "unknown pack mode " + std::to_string(header.packMode) + ": the items extract empty");
  }
  return true;
}

void CheckNames(PackageCheck& check, const PackageLayout& layout) {
  bool firmware = false;
  for (const RecordFields& record : layout.records) {
    firmware = firmware || record.type == "frw";
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
  if (!firmware) {
    Add(check, Finding::kWarning, "no \"frw\" item: an update stops at the firmware step");
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
  if (!platform::IsRegularFile(path)) {
    File file = platform::PathExists(path) ? File() : File::Open(path, File::Mode::kRead);
    source.error = file.LastError() != 0 ? "cannot open " + path + ": " + Cause(file.LastError())
                                         : path + " is not a file";
    return source;
  }
  const HeaderProbe probe = ProbePackageHeader(path);
  if (probe.error != 0) {
    source.error = "cannot read " + path + ": " + Cause(probe.error);
    return source;
  }
  const LinkedPackage linked = FindLinkedPackage(path);
  if (probe.IsPackage() || !linked.found) {
    source.package = path;
    return source;
  }
  source.linked = linked;
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
  std::array<uint8_t, kHeaderSize> image{};
  const int64_t want = std::min<int64_t>(linked.length, static_cast<int64_t>(kHeaderSize));
  const int64_t got =
      file.IsOpen() ? file.ReadAt(image.data(), static_cast<size_t>(want), linked.offset) : -1;
  if (got != want) return std::nullopt;
  return ParseHeader(std::span<const uint8_t>(image.data(), static_cast<size_t>(got)));
}

PackageCheck CheckPackage(const PackageSource& source) {
  PackageCheck check;
  if (source.copy.checksum == ChecksumState::kBad) {
    Add(check, Finding::kDamaged, source.copy.problem);
  }
  File file = File::Open(source.package, File::Mode::kRead);
  if (!file.IsOpen()) {
    Add(check, Finding::kDamaged, "cannot open " + source.package + ": " + Cause(file.LastError()));
    return check;
  }
  const PackageLayout layout = ScanPackage(file);
  check.header = layout.header;
  check.items = layout.records.size();
  if (!CheckHeader(check, layout)) return check;
  if (!layout.Whole()) Add(check, Finding::kDamaged, layout.problem);
  if (std::string warning = EndMarkerWarning(layout); !warning.empty()) {
    Add(check, Finding::kWarning, warning);
  }
  CheckNames(check, layout);
  CheckPackedItems(check, file, layout);
  return check;
}

}  // namespace fwp
