// A package file read with the package reader: its header, and the fields of every
// record up to the end or the first damage, without extracting anything.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "package/package_reader.h"

namespace platform {
class File;
}

namespace fwp {

// What the header of a package file says, read with one open of the file. The update
// reads it once and decides from it whether the file is an update for its printer.
//
//   fwp::HeaderProbe probe = fwp::ProbePackageHeader(path);
//   if (std::string why = probe.ProblemFor(path, "VRQPrinter", "Update"); !why.empty())
//     ... fail with "Error fwp data!" and why as the detail ...
struct HeaderProbe {
  // errno (or platform::kNotRegularFile) when the file could not be opened or read; 0
  // otherwise.
  int error = 0;
  int64_t size = 0;  // of the whole package
  PackageHeader header;

  // The magic test, false when the file could not be read.
  bool IsPackage() const { return error == 0 && header.hasMagic; }
  // Why the package called name is not a package for that printer family and kind, in
  // words for a detail line: the system's reason when it cannot be read, empty, larger
  // than a package may be, no magic, a header cut short, or the printer name or kind it
  // was made for. "" when it is such a package.
  std::string ProblemFor(const std::string& name, const std::string& printerName,
                         const std::string& packageKind) const;
};

// The rule an update applies to a package's header: the magic, a whole header, the
// printer family and the kind it was made for. The text does not name the package;
// Named() puts the name in front, as a detail line wants it. A damaged header gives one
// refusal; a sound one made for another printer and kind gives one for each.
struct HeaderRefusal {
  bool damaged = false;  // no package, or its header cut short; else made for another use
  std::string text;      // "made for the printer \"X\", not \"VRQPrinter\""
  std::string joiner;    // what goes between the name and the text: " is " or ": "

  std::string Named(const std::string& name) const { return name + joiner + text; }
};
std::vector<HeaderRefusal> RefuseHeader(const PackageHeader& header, const std::string& printerName,
                                        const std::string& packageKind);

// Opens path, reads up to 2048 bytes and closes it again.
HeaderProbe ProbePackageHeader(const std::string& path);
// The same for the package that lies in file from offset on, size bytes long (a package
// linked to an update application, read where it lies).
HeaderProbe ProbePackageHeader(platform::File& file, int64_t offset, int64_t size);

// The layout of a package file: header and records, up to where reading stopped.
struct PackageLayout {
  int error = 0;  // errno when the file could not be opened or read; 0 otherwise
  int64_t fileSize = 0;
  std::array<uint8_t, kHeaderSize> headerImage{};  // the first 2048 bytes, zero-filled
  PackageHeader header;
  std::vector<RecordFields> records;  // every record read whole, in package order
  // kEndMarker or kEndOfFile when the records end exactly at the end of the file;
  // kDamaged otherwise (also for a file that is no package or cannot be read).
  RecordStep::Kind end = RecordStep::kDamaged;
  int64_t endOffset = 0;  // where reading stopped
  std::string problem;    // why reading stopped early; "" for a whole package

  bool Whole() const { return end == RecordStep::kEndMarker || end == RecordStep::kEndOfFile; }
};

// The warning for a package without the four zero bytes that distributed packages end
// with: one cut short at a record boundary reads as whole. "" when it has them or is no
// whole package.
std::string EndMarkerWarning(const PackageLayout& layout);

// Reads file from its start. The records are read only when the header is a package's.
PackageLayout ScanPackage(platform::File& file);
PackageLayout ScanPackage(const std::string& path);

}  // namespace fwp
