// The linked-package probes and extraction on arbitrary files: a package comes out only
// as the bytes before its length field, and only when the checksums its trailer may carry
// (of the package and of the program part before it) match them.
#include <cstring>

#include "fuzz/targets/fuzz_files.h"
#include "package/checksum.h"
#include "package/linked_package.h"
#include "package/package_format.h"
#include "platform/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzing::Sandbox sandbox("fuzz_linked");
  static const std::string exe = (sandbox.Root() / "update.run").string();
  static const std::string out = (sandbox.Root() / "package.fwp").string();
  fuzzing::WriteFile(exe, data, size);

  const bool trailer = size >= 32 && std::memcmp(data + size - 32, "LINK FILE 1.00", 14) == 0;
  const bool linked = fwp::HasLinkedPackage(exe);
  fuzzing::Require(linked == trailer, "an update application is one that ends with the trailer");
  const fwp::LinkedPackage found = fwp::FindLinkedPackage(exe);
  fuzzing::Require(trailer ? found.found == found.damage.empty() : !found.found,
                   "a trailer either fits its file or says why not");
  fuzzing::Require(
      !found.found || (size >= 36 && uint64_t{fwp::GetLE32(data + size - 36)} + 36 <= size),
      "a package is found only where its length fits the file");

  // The checksums are read from the trailer block's bytes 16-27: "CRC1", the CRC-32 of
  // the package and, when not zero, of the program part.
  const bool checked = found.found && std::memcmp(data + size - 16, "CRC1", 4) == 0;
  fuzzing::Require(found.checksum.has_value() == checked, "the trailer's checksum");
  bool matches = true;
  if (checked) {
    const uint32_t stated = fwp::GetLE32(data + size - 12);
    const uint32_t program = fwp::GetLE32(data + size - 8);
    matches = fwp::Crc32(0, data + found.offset, static_cast<size_t>(found.length)) == stated &&
              (program == 0 || fwp::Crc32(0, data, static_cast<size_t>(found.offset)) == program);
    platform::File copy = platform::File::Open(out, platform::File::Mode::kCreateTruncate);
    const fwp::LinkedCopy state = fwp::CopyLinkedPackage(exe, found, copy);
    fuzzing::Require(state.length == found.length, "a damaged package is copied all the same");
    fuzzing::Require(state.Usable() == matches, "the copy's checksum states");
    fuzzing::Require(fwp::CheckLinkedChecksums(exe, found).Usable() == matches,
                     "the checksums compared in place agree with the copy's");
  }

  const int64_t length = fwp::ExtractLinkedPackage(exe, out);
  fuzzing::Require(length == -1 || length >= 0, "result is a length or -1");
  fuzzing::Require(!found.found || !matches || length >= 0, "a linked package can be extracted");
  fuzzing::Require(matches || length < 0, "a package whose checksum fails is not extracted");
  if (length >= 0) {
    fuzzing::Require(trailer, "only a trailer gives a package");
    const uint32_t stated = fwp::GetLE32(data + size - 36);
    fuzzing::Require(static_cast<uint64_t>(length) == stated && uint64_t{stated} + 36 <= size,
                     "the length field says how long the package is");
    const std::string copy = fuzzing::ReadFile(out);
    fuzzing::Require(
        copy.size() == stated && std::memcmp(copy.data(), data + size - 36 - stated, stated) == 0,
        "the extracted package is the bytes before the length field");
  }

  const std::string temp = fwp::ExtractLinkedPackageToTemp(exe);
  fuzzing::Require(temp.empty() == (length < 0), "the temporary copy exists when extraction works");
  if (!temp.empty()) {
    fuzzing::Require(fuzzing::fs::file_size(temp) == static_cast<uint64_t>(length),
                     "the temporary copy holds the package");
    fuzzing::fs::remove(temp);
  }
  fuzzing::fs::remove(out);
  return 0;
}
