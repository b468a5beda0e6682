// The header probes of the spec's calling order, each one open of the file.
#include "package/opfile.h"
#include "package/package_scan.h"

bool IsPackageFile(const std::string& path) {
  return fwp::ProbePackageHeader(path).IsPackage();
}

std::string ReadPackagePrinterName(const std::string& path) {
  const fwp::HeaderProbe probe = fwp::ProbePackageHeader(path);
  return probe.error == 0 ? probe.header.printerName : std::string();
}

std::string ReadPackageKind(const std::string& path) {
  const fwp::HeaderProbe probe = fwp::ProbePackageHeader(path);
  return probe.error == 0 ? probe.header.packageKind : std::string();
}
