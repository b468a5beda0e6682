// The three header probes on arbitrary files.
#include <cstring>

#include "fuzz/targets/fuzz_files.h"
#include "package/probes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzing::Sandbox sandbox("fuzz_probes");
  static const std::string path = (sandbox.Root() / "probe.fwp").string();
  fuzzing::WriteFile(path, data, size);

  const bool magic = size >= 13 && std::memcmp(data, "OP FILE 1.00", 13) == 0;
  fuzzing::Require(fwp::IsPackageFile(path) == magic, "IsPackageFile is the magic test");

  const std::string printer = fwp::ReadPackagePrinterName(path);
  const std::string kind = fwp::ReadPackageKind(path);
  fuzzing::Require(printer.size() <= 32 && printer.find('\0') == std::string::npos,
                   "printer name fits its field");
  fuzzing::Require(kind.size() <= 1024 && kind.find('\0') == std::string::npos,
                   "package kind fits its field");
  if (size >= 2048) {
    const auto field = [&](size_t offset, size_t length) {
      const char* text = reinterpret_cast<const char*>(data + offset);
      return std::string(text, strnlen(text, length));
    };
    fuzzing::Require(printer == field(33, 32), "printer name is the header field");
    fuzzing::Require(kind == field(577, 1024), "package kind is the header field");
  }
  return 0;
}
