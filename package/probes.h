// The three probes of a package file's header, each one open of the file.
#pragma once

#include <string>

namespace fwp {

// Each opens and closes the file itself. To read the header once, with the cause of a
// refusal, use ProbePackageHeader (package_scan.h).
bool IsPackageFile(const std::string& path);
std::string ReadPackagePrinterName(const std::string& path);  // "" when unreadable
std::string ReadPackageKind(const std::string& path);         // "" when unreadable

}  // namespace fwp
