#include "package/checksum.h"

#include <libdeflate.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <vector>

#include "platform/file.h"

namespace fwp {

// libdeflate folds with carry-less multiplication where the processor has it: the update
// checks its package while copying it out, and zlib's table-driven crc32() would take
// longer than the copy itself.
uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  return libdeflate_crc32(crc, data, size);
}

struct Sha256::State {
  sha256_ctx context{};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  sha256_init(&state_->context);
}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, size_t size) {
  sha256_update(&state_->context, size, static_cast<const uint8_t*>(data));
}

std::string Sha256::HexDigest() {
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&state_->context, sizeof digest, digest);  // also starts the hash again
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * sizeof digest);
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::string Sha256Hex(const void* data, size_t size) {
  Sha256 hash;
  hash.Update(data, size);
  return hash.HexDigest();
}

namespace {

constexpr int64_t kChunk = 256 * 1024;

// Hashes length bytes from offset, or to the end of the file when length is negative.
FileSha256 HashFile(const std::string& path, int64_t offset, int64_t length) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) return {"", platform::OpenFailure(path, file.LastError())};
  if (file.Seek(offset, 0) != offset) {
    return {"", "cannot read " + path + ": " + platform::ErrorText(file.LastError())};
  }
  Sha256 hash;
  std::vector<unsigned char> chunk(static_cast<size_t>(kChunk));
  int64_t left = length;
  while (length < 0 || left > 0) {
    const auto want = static_cast<size_t>(length < 0 ? kChunk : std::min(left, kChunk));
    const int64_t got = file.Read(chunk.data(), want);
    if (got < 0) return {"", "cannot read " + path + ": " + platform::ErrorText(file.LastError())};
    hash.Update(chunk.data(), static_cast<size_t>(got));
    left -= got;
    if (got < static_cast<int64_t>(want)) break;  // the end of the file
  }
  if (length >= 0 && left > 0) {
    return {"", path + " ends before the " + std::to_string(length) + " bytes at offset " +
                    std::to_string(offset)};
  }
  return {hash.HexDigest(), ""};
}

}  // namespace

FileSha256 Sha256OfFile(const std::string& path) {
  return HashFile(path, 0, -1);
}

FileSha256 Sha256OfFileRange(const std::string& path, int64_t offset, int64_t length) {
  if (offset < 0 || length < 0) {
    return {"", "no byte range at offset " + std::to_string(offset) + " of length " +
                    std::to_string(length) + " in " + path};
  }
  return HashFile(path, offset, length);
}

}  // namespace fwp
