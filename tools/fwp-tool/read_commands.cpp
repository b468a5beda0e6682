// fwp-tool list, verify and extract.
#include <filesystem>
#include <optional>

#include "package/opfile.h"
#include "package/package_check.h"
#include "package/package_format.h"
#include "package/package_scan.h"
#include "platform/fs.h"
#include "tools/fwp-tool/fwp_tool.h"
#include "tools/fwp-tool/manifest.h"
#include "workflow/update_check.h"

namespace fwptool {
namespace {

std::string PackModeName(int8_t mode) {
  switch (mode) {
    case fwp::kPackStored:
      return "0 (stored)";
    case fwp::kPackPacked:
      return "1 (packed)";
    default:
      return std::to_string(mode) + " (unknown: items extract empty)";
  }
}

std::string Times(uint64_t created, uint64_t accessed, uint64_t written) {
  return "created " + FormatFileTime(created) + ", accessed " + FormatFileTime(accessed) +
         ", written " + FormatFileTime(written);
}

// Texts are shown up to this many bytes: a damaged package may hold huge ones.
constexpr size_t kShownTextLimit = 4096;

std::string Shown(const std::string& text, bool& cut) {
  cut = cut || text.size() > kShownTextLimit;
  return Escape(text.substr(0, kShownTextLimit));
}

void PrintRecord(std::ostream& out, size_t index, const fwp::RecordFields& r) {
  bool cut = false;
  out << "item " << index << " at " << r.offset << ": type \"" << Shown(r.type, cut) << "\" name \""
      << Shown(r.fileName, cut) << "\" mode \"" << Shown(r.mode, cut) << "\"\n";
  out << "  commands \"" << Shown(r.commands, cut) << "\"" << (cut ? " (texts cut)" : "") << "\n";
  out << "  " << Times(r.creationTime, r.lastAccessTime, r.lastWriteTime) << "\n";
  out << "  RecordSize " << r.recordSize << ", D " << r.dataLength;
  if (r.unpackedLength) out << ", U " << *r.unpackedLength;
  out << "\n";
}

void PrintEnd(std::ostream& out, std::ostream& err, const fwp::PackageLayout& layout) {
  switch (layout.end) {
    case fwp::RecordStep::kEndMarker:
      out << "end: four zero bytes at " << layout.endOffset << ", end of file\n";
      break;
    case fwp::RecordStep::kEndOfFile:
      out << "end: end of file at " << layout.endOffset << " (no end marker)\n";
      break;
    default:
      err << "damaged: " << layout.problem << "\n";
      break;
  }
}

}  // namespace

namespace {

// The paths among args, or the exit status of a --help, of -v/--verbose (where allowed,
// into verbose) or of an unknown option.
std::optional<int> SplitArgs(const std::string& command, const std::vector<std::string>& args,
                             std::vector<std::string>& paths, bool* verbose, std::ostream& out,
                             std::ostream& err) {
  Arguments read;
  if (auto done = ReadArguments(command, args, read, err)) return *done;
  if (read.Has(Option::kHelp)) return ShowHelp(command, out);
  if (verbose != nullptr) *verbose = read.Has(Option::kVerbose);
  paths = read.operands;
  return std::nullopt;
}

// Opens FILE as a package or an update application; says why not on err. verify takes
// an update application whose package could not be copied out, to name why among its
// findings; list and extract refuse it here.
std::optional<fwp::PackageSource> OpenSource(const std::string& command, const std::string& path,
                                             std::ostream& out, std::ostream& err) {
  fwp::PackageSource source = fwp::OpenPackageSource(path);
  if (!source.error.empty()) {
    err << "fwp-tool " << command << ": " << source.error << "\n";
    return std::nullopt;
  }
  if (!source.IsApplication()) return source;
  const bool verify = command == "verify";
  if (source.package.empty()) {
    if (verify) return source;
    err << "fwp-tool " << command << ": " << path << ": " << source.copy.problem << "\n";
    return std::nullopt;
  }
  out << "update application " << path << ": package of " << source.linked->length
      << " bytes at offset " << source.linked->offset << ", checksum "
      << fwp::ChecksumStateName(source.copy.checksum) << ", program checksum "
      << fwp::ChecksumStateName(source.copy.programChecksum) << "\n";
  if (!verify && !source.linked->warning.empty()) {
    err << "fwp-tool " << command << ": warning: " << source.linked->warning << "\n";
  }
  return source;
}

void PrintHeader(std::ostream& out, const fwp::PackageSource& source,
                 const fwp::PackageLayout& layout) {
  const fwp::PackageHeader& h = layout.header;
  out << (source.IsApplication() ? "package linked to " : "package ") << source.path << " ("
      << layout.fileSize << " bytes)\n";
  out << "magic \"" << Escape(h.magic) << "\"\n";
  out << "pack mode " << PackModeName(h.packMode) << "\n";
  out << "printer \"" << Escape(h.printerName) << "\"\n";
  out << "version \"" << Escape(h.versionLabel) << "\"\n";
  out << "kind \"" << Escape(h.packageKind) << "\"\n";
}

}  // namespace

int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> paths;
  if (auto done = SplitArgs("list", args, paths, nullptr, out, err)) return *done;
  if (paths.size() != 1) return UsageError(err, "list needs exactly one FILE");
  const std::optional<fwp::PackageSource> source = OpenSource("list", paths[0], out, err);
  if (!source) return kExitFailed;
  const std::string& path = paths[0];
  const bool damagedCopy = source->copy.checksum == fwp::ChecksumState::kBad;
  if (damagedCopy) err << "fwp-tool list: " << path << ": " << source->copy.problem << "\n";
  const fwp::PackageLayout layout = fwp::ScanPackage(source->package);
  if (!layout.header.hasMagic) {
    err << "fwp-tool list: " << path << ": "
        << (layout.error != 0 ? layout.problem : "not an update package or update application")
        << "\n";
    return kExitFailed;
  }
  PrintHeader(out, *source, layout);
  for (size_t i = 0; i < layout.records.size(); ++i)
    PrintRecord(out, i + 1, layout.records[i]);
  if (!layout.Whole()) err << "fwp-tool list: " << path << ": ";
  PrintEnd(out, err, layout);
  // The updater refuses such a package whole, so the listing does too.
  const std::string clash = fwp::DuplicateNameProblem(layout.records);
  if (!clash.empty()) err << "fwp-tool list: " << path << ": " << clash << "\n";
  return layout.Whole() && clash.empty() && !damagedCopy ? kExitOk : kExitFailed;
}

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> paths;
  if (auto done = SplitArgs("verify", args, paths, nullptr, out, err)) return *done;
  if (paths.size() != 1) return UsageError(err, "verify needs exactly one FILE");
  const std::optional<fwp::PackageSource> source = OpenSource("verify", paths[0], out, err);
  if (!source) return kExitFailed;
  const app::UpdateCheck checked = app::CheckForUpdate(*source);
  const fwp::PackageCheck& check = checked.package;
  size_t warnings = 0;
  bool damaged = false;
  for (const fwp::Finding& finding : check.findings) {
    out << fwp::FindingKindName(finding.kind) << ": " << finding.text << "\n";
    warnings += finding.kind == fwp::Finding::kWarning ? 1 : 0;
    damaged = damaged || finding.kind == fwp::Finding::kDamaged;
  }
  // The one acceptance check: what an update stops at (no "frw" item, an empty one, one
  // larger than the loader takes) is refused here as the maker and --check refuse it.
  if (checked.firmware) out << "refused: " << checked.firmware->text << "\n";
  out << paths[0] << ": ";
  if (!checked.FirstRefusal()) {
    // A package with warnings works, but what it would do deserves a look first: never
    // "good".
    if (warnings == 0) {
      out << "good, " << check.items << (check.items == 1 ? " item" : " items") << "\n";
    } else {
      out << "usable, with warnings (" << warnings << (warnings == 1 ? " warning" : " warnings")
          << ", " << check.items << (check.items == 1 ? " item" : " items") << ")\n";
    }
    return kExitOk;
  }
  out << (damaged ? "damaged" : "refused") << "\n";
  return kExitFailed;
}

int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool verbose = false;
  std::vector<std::string> paths;
  if (auto done = SplitArgs("extract", args, paths, &verbose, out, err)) return *done;
  if (paths.size() != 2) return UsageError(err, "extract needs FILE and DIR");
  const std::optional<fwp::PackageSource> source = OpenSource("extract", paths[0], out, err);
  if (!source) return kExitFailed;
  // What is no package, or a damaged one, gets no folder made for it.
  if (!source->copy.Usable() && source->IsApplication()) {
    err << "fwp-tool extract: " << paths[0] << ": " << source->copy.problem << "\n";
    return kExitFailed;
  }
  if (!fwp::ProbePackageHeader(source->package).IsPackage()) {
    err << "fwp-tool extract: " << paths[0] << ": not an update package or update application\n";
    return kExitFailed;
  }
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::absolute(paths[1], ec);
  if (!ec) std::filesystem::create_directories(folder, ec);
  if (ec || !platform::IsFolder(folder.string())) {
    err << "fwp-tool extract: cannot create " << paths[1] << (ec ? ": " + ec.message() : "")
        << "\n";
    return kExitFailed;
  }
  fwp::TOPFile package;
  package.SetWorkFolder(folder.string());
  const bool whole = package.Load(source->package);
  for (size_t i = 0; i < package.ItemNames().size(); ++i) {
    const fwp::TFileBase* item = package.ItemAt(i);
    if (item == nullptr) continue;
    out << item->Status << " " << Escape(item->Type) << " " << Escape(item->FileName) << "\n";
    if (verbose) {
      out << "  mode \"" << Escape(item->Mode) << "\" commands \"" << Escape(item->Commands)
          << "\"\n  " << Times(item->CreationTime, item->LastAccessTime, item->LastWriteTime)
          << "\n";
    }
  }
  for (const std::string& warning : package.LoadWarnings())
    err << "fwp-tool extract: warning: " << warning << "\n";
  if (!whole) {
    err << "fwp-tool extract: " << paths[0] << ": "
        << (package.LoadError().empty() ? "the package was not read completely"
                                        : package.LoadError())
        << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace fwptool
