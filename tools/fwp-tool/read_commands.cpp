// fwp-tool list and extract.
#include <filesystem>

#include "package/opfile.h"
#include "package/package_format.h"
#include "platform/fs.h"
#include "tools/fwp-tool/fwp_tool.h"
#include "tools/fwp-tool/manifest.h"
#include "tools/fwp-tool/package_walker.h"

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

void PrintRecord(std::ostream& out, size_t index, const WalkedRecord& r) {
  out << "item " << index << " at " << r.offset << ": type \"" << Escape(r.type) << "\" name \""
      << Escape(r.fileName) << "\" mode \"" << Escape(r.mode) << "\"\n";
  out << "  commands \"" << Escape(r.commands) << "\"" << (r.textCut ? " (texts cut)" : "") << "\n";
  out << "  " << Times(r.creationTime, r.lastAccessTime, r.lastWriteTime) << "\n";
  out << "  RecordSize " << r.recordSize << ", D " << r.dataLength;
  if (r.unpackedLength) out << ", U " << *r.unpackedLength;
  out << "\n";
}

void PrintEnd(std::ostream& out, std::ostream& err, const PackageWalk& walk) {
  switch (walk.end) {
    case WalkEnd::kEndMarker:
      out << "end: four zero bytes at " << walk.endOffset << ", end of file\n";
      break;
    case WalkEnd::kEndOfFile:
      out << "end: end of file at " << walk.endOffset << " (no end marker)\n";
      break;
    case WalkEnd::kDamaged:
      err << "damaged at " << walk.endOffset << ": " << walk.problem << "\n";
      break;
    case WalkEnd::kNoPackage:
      err << "not a package: " << walk.problem << "\n";
      break;
  }
}

}  // namespace

int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return UsageError(err, "list needs exactly one PACKAGE");
  const PackageWalk walk = WalkPackage(args[0]);
  if (walk.end == WalkEnd::kNoPackage || (walk.end == WalkEnd::kDamaged && walk.magic.empty())) {
    err << "fwp-tool list: " << args[0] << ": ";
    PrintEnd(out, err, walk);
    return kExitFailed;
  }
  out << "package " << args[0] << " (" << walk.fileSize << " bytes)\n";
  out << "magic \"" << Escape(walk.magic) << "\"\n";
  out << "pack mode " << PackModeName(walk.packMode) << "\n";
  out << "printer \"" << Escape(walk.printerName) << "\"\n";
  out << "version \"" << Escape(walk.versionLabel) << "\"\n";
  out << "kind \"" << Escape(walk.packageKind) << "\"\n";
  for (size_t i = 0; i < walk.records.size(); ++i)
    PrintRecord(out, i + 1, walk.records[i]);
  if (walk.end == WalkEnd::kDamaged) err << "fwp-tool list: " << args[0] << ": ";
  PrintEnd(out, err, walk);
  return walk.end == WalkEnd::kDamaged ? kExitFailed : kExitOk;
}

int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool verbose = false;
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (arg == "-v" || arg == "--verbose") {
      verbose = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(err, "unknown extract option \"" + arg + "\"");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) return UsageError(err, "extract needs PACKAGE and DIR");
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::absolute(paths[1], ec);
  if (!ec) std::filesystem::create_directories(folder, ec);
  if (ec || !platform::IsFolder(folder.string())) {
    err << "fwp-tool extract: cannot create " << paths[1] << (ec ? ": " + ec.message() : "")
        << "\n";
    return kExitFailed;
  }
  TOPFile package;
  package.SetWorkFolder(folder.string());
  const bool whole = package.Load(paths[0]);
  for (size_t i = 0; i < package.ItemNames().size(); ++i) {
    const TFileBase* item = package.ItemAt(i);
    if (item == nullptr) continue;
    out << item->Status << " " << Escape(item->Type) << " " << Escape(item->FileName) << "\n";
    if (verbose) {
      out << "  mode \"" << Escape(item->Mode) << "\" commands \"" << Escape(item->Commands)
          << "\"\n  " << Times(item->CreationTime, item->LastAccessTime, item->LastWriteTime)
          << "\n";
    }
  }
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
