// Header probes: each reads the first 2048 bytes of a file and looks at one field.
#include <cstring>

#include "package/opfile.h"
#include "package/package_format.h"
#include "platform/file.h"

namespace {

using Header = TOPFile::HeaderImage;

// Reads up to a header's worth of bytes; the rest of the image stays zero.
bool ReadHeader(const std::string& path, Header& header, int64_t& got) {
  header.fill(0);
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) return false;
  got = file.Read(header.data(), header.size());
  return got >= 0;
}

std::string FieldText(const Header& header, size_t offset, size_t size) {
  const char* start = reinterpret_cast<const char*>(header.data() + offset);
  return std::string(start, strnlen(start, size));
}

}  // namespace

namespace fwp {

bool HasMagic(const uint8_t* data, int64_t size) {
  return size > static_cast<int64_t>(kMagic.size()) &&
         std::memcmp(data, kMagic.data(), kMagic.size()) == 0 && data[kMagic.size()] == 0;
}

}  // namespace fwp

bool IsPackageFile(const std::string& path) {
  Header header;
  int64_t got = 0;
  return ReadHeader(path, header, got) && fwp::HasMagic(header.data(), got);
}

std::string ReadPackagePrinterName(const std::string& path) {
  Header header;
  int64_t got = 0;
  if (!ReadHeader(path, header, got)) return {};
  return FieldText(header, fwp::kPrinterNameOffset, fwp::kPrinterNameSize);
}

std::string ReadPackageKind(const std::string& path) {
  Header header;
  int64_t got = 0;
  if (!ReadHeader(path, header, got)) return {};
  return FieldText(header, fwp::kPackageKindOffset, fwp::kPackageKindSize);
}
