// The three probes of a package file's header, each one open of the file.
#include "package/probes.h"

#include "package/package_scan.h"

namespace fwp {

bool IsPackageFile(const std::string& path) {
  return ProbePackageHeader(path).IsPackage();
}

std::string ReadPackagePrinterName(const std::string& path) {
  const HeaderProbe probe = ProbePackageHeader(path);
  return probe.error == 0 ? probe.header.printerName : std::string();
}

std::string ReadPackageKind(const std::string& path) {
  const HeaderProbe probe = ProbePackageHeader(path);
  return probe.error == 0 ? probe.header.packageKind : std::string();
}

}  // namespace fwp
