// The checksums of update packages. The CRC-32 that update applications carry for their
// linked package: the IEEE polynomial, reflected, as zlib's crc32() and gzip compute it.
// The SHA-256 that names a package in the update history: the same for a package file
// and for the same package linked into an update application.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fwp {

// Continues crc (0 to start) over size bytes of data.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

// A SHA-256 computed piece by piece:
//
//   fwp::Sha256 hash;
//   hash.Update(chunk.data(), chunk.size());  // as often as needed
//   std::string hex = hash.HexDigest();       // 64 lower-case hex digits
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void Update(const void* data, size_t size);
  // The digest of everything given so far; the hash starts again empty afterwards.
  std::string HexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The SHA-256 of size bytes of data, as 64 lower-case hex digits.
std::string Sha256Hex(const void* data, size_t size);

// The SHA-256 of a file or of a part of one, or why it could not be read.
struct FileSha256 {
  std::string hex;      // 64 lower-case hex digits; "" on failure
  std::string problem;  // why not, in words for a detail line; "" on success
};
// The whole of a regular file, read in chunks.
FileSha256 Sha256OfFile(const std::string& path);
// length bytes from offset of a regular file: a package linked into an update
// application (fwp::LinkedPackage's offset and length) hashes as its package file does.
// A range that reaches past the end of the file is a failure.
FileSha256 Sha256OfFileRange(const std::string& path, int64_t offset, int64_t length);

}  // namespace fwp
