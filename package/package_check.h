// A whole check of a package file or an update application without a printer: what the
// updater would refuse of the package itself, and what is odd but works. It reads the
// package the way the package object does (the same reader, the same decoder) and writes
// no item files. What the firmware step asks of the package's "frw" item is the
// workflow's (workflow/update_check.h), which builds on this.
//
//   fwp::PackageSource source = fwp::OpenPackageSource(path);  // an application's package
//   fwp::PackageCheck check = fwp::CheckPackage(source);        // is copied out first
//   for (const fwp::Finding& finding : check.findings) ...
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "package/linked_package.h"
#include "package/package_reader.h"
#include "package/package_scan.h"
#include "platform/temp_file.h"

namespace fwp {

// The package in a file: the file itself, or the package linked to an update
// application, copied out into a temporary file that goes with the source.
struct PackageSource {
  std::string path;     // as given
  std::string package;  // the file that holds the package; "" when there is none to read
  std::optional<LinkedPackage> linked;  // for an update application: where its package lies
  LinkedCopy copy;                      // and how copying it out went (checksum state)
  std::string error;                    // why the file cannot be read at all; "" when it can
  platform::TempFile copied;

  bool IsApplication() const { return linked.has_value(); }
};

// A file that begins as a package is one; otherwise a file with a trailer is an update
// application, and its package is copied out (also when a checksum fails, so that it
// can be looked at). Nothing is copied out of an application whose trailer is damaged
// or whose package is larger than a package may be; copy.problem says why then.
PackageSource OpenPackageSource(const std::string& path);

// How messages name the package linked to executable: "the package linked to PATH".
std::string LinkedPackageName(const std::string& executable);

// What an update checks of its linked package where it lies, before anything is copied
// out: the trailer, the size against the 1 GiB a package may be, and the header (an
// update for "VRQPrinter"). A package refused for its header whose trailer carries a
// checksum is read where it lies to tell damage from a package made for another printer.
//
//   fwp::LinkedHeaderCheck checked = fwp::CheckLinkedHeader(executable, linked);
//   if (!checked.problem.empty()) ... "Error fwp data!" with checked.problem ...
struct LinkedHeaderCheck {
  HeaderProbe probe;
  std::string problem;  // "" when the package may be copied out and loaded
};
LinkedHeaderCheck CheckLinkedHeader(const std::string& executable, const LinkedPackage& linked);

struct Finding {
  enum Kind {
    kDamaged,  // the package is damaged: the updater would not load it whole
    kRefused,  // a sound package the updater refuses (another printer, kind, size)
    kWarning,  // works, but deserves a look
  };
  Kind kind;
  std::string text;
  // The finding worded for a detail line, with the package's name in front; empty when
  // the text names what it is about already.
  std::string named = {};

  const std::string& Detail() const { return named.empty() ? text : named; }
};
// "damaged", "refused", "warning".
const char* FindingKindName(Finding::Kind kind);

struct PackageCheck {
  PackageHeader header;
  size_t items = 0;                   // records read whole
  std::vector<RecordFields> records;  // and their fields, in package order
  std::vector<Finding> findings;

  // Nothing the updater would refuse.
  bool Good() const;
};

// Checks the header, every record, every item's data (packed items decoded), the names,
// the size limits and, for an update application, the trailer and its checksums.
PackageCheck CheckPackage(const PackageSource& source);
// The same for a package file, called name in the findings. Writes no item files: a
// package of many items is checked in a fraction of the time its load takes.
PackageCheck CheckPackage(const std::string& package, const std::string& name);

// The header of the package linked to an update application, read where it lies;
// nullopt when the file carries no linked package or cannot be read.
std::optional<PackageHeader> LinkedPackageHeader(const std::string& executable);

}  // namespace fwp
