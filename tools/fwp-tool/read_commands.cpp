// fwp-tool list and extract.
#include <filesystem>

#include "package/opfile.h"
#include "package/package_format.h"
#include "package/package_scan.h"
#include "platform/fs.h"
#include "tools/fwp-tool/fwp_tool.h"
#include "tools/fwp-tool/manifest.h"

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

int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) return UsageError(err, "list needs exactly one PACKAGE");
  const fwp::PackageLayout layout = fwp::ScanPackage(args[0]);
  if (!layout.header.hasMagic) {
    err << "fwp-tool list: " << args[0] << ": " << (layout.error != 0 ? "" : "not a package: ")
        << layout.problem << "\n";
    return kExitFailed;
  }
  const fwp::PackageHeader& h = layout.header;
  out << "package " << args[0] << " (" << layout.fileSize << " bytes)\n";
  out << "magic \"" << Escape(h.magic) << "\"\n";
  out << "pack mode " << PackModeName(h.packMode) << "\n";
  out << "printer \"" << Escape(h.printerName) << "\"\n";
  out << "version \"" << Escape(h.versionLabel) << "\"\n";
  out << "kind \"" << Escape(h.packageKind) << "\"\n";
  for (size_t i = 0; i < layout.records.size(); ++i)
    PrintRecord(out, i + 1, layout.records[i]);
  if (!layout.Whole()) err << "fwp-tool list: " << args[0] << ": ";
  PrintEnd(out, err, layout);
  // The updater refuses such a package whole, so the listing does too.
  const std::string clash = fwp::DuplicateNameProblem(layout.records);
  if (!clash.empty()) err << "fwp-tool list: " << args[0] << ": " << clash << "\n";
  return layout.Whole() && clash.empty() ? kExitOk : kExitFailed;
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
  fwp::TOPFile package;
  package.SetWorkFolder(folder.string());
  const bool whole = package.Load(paths[0]);
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
