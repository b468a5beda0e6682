#include "package/linked_package.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "package/checksum.h"
#include "package/package_format.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace fwp {

namespace {

using platform::File;

// Copies go through a fixed buffer: neither file is read whole. 256 KiB keeps the calls
// few enough that the checksum on the way costs next to nothing.
constexpr int64_t kCopyChunk = 256 * 1024;

std::string Cause(int error) {
  return std::strerror(error != 0 ? error : EIO);
}

enum class CopyFailure { kNone, kRead, kCutShort, kWrite };

// Copies length bytes from source (at its position) to target, a chunk at a time, and
// continues crc over them.
CopyFailure CopyBytes(File& source, File& target, int64_t length, uint32_t& crc) {
  std::vector<unsigned char> chunk(static_cast<size_t>(std::min(length, kCopyChunk)));
  while (length > 0) {
    auto want = static_cast<size_t>(std::min<int64_t>(length, kCopyChunk));
    const int64_t got = source.Read(chunk.data(), want);
    if (got < 0) return CopyFailure::kRead;
    if (got != static_cast<int64_t>(want)) return CopyFailure::kCutShort;
    crc = Crc32(crc, chunk.data(), want);
    if (target.Write(chunk.data(), want) != static_cast<int64_t>(want)) return CopyFailure::kWrite;
    length -= static_cast<int64_t>(want);
  }
  return CopyFailure::kNone;
}

std::string HexWord(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

// Reads the trailer of an open file.
LinkedPackage ReadTrailer(File& file) {
  LinkedPackage found;
  const int64_t size = file.Size();
  unsigned char tail[kLinkTailSize];
  const int64_t got =
      size < kLinkTailSize ? 0 : file.ReadAt(tail, sizeof tail, size - kLinkTailSize);
  if (size < 0 || got < 0) {
    found.error = file.LastError();
    return found;
  }
  const unsigned char* block = tail + kLinkLengthSize;
  if (got != kLinkTailSize || std::memcmp(block, kLinkTrailerText, kLinkTrailerTextSize) != 0) {
    return found;
  }
  found.length = GetLE32(tail);
  found.offset = size - kLinkTailSize - found.length;
  found.found = found.offset >= 0;  // a length that points before the file is damage
  if (found.found && std::memcmp(block + kChecksumTagOffset, kChecksumTag, 4) == 0) {
    found.checksum = GetLE32(block + kChecksumOffset);
  }
  return found;
}

}  // namespace

int64_t AppendLinkedPackage(const std::string& target, const std::string& package) {
  File out = File::Open(target, File::Mode::kReadWrite);
  if (!out.IsOpen() || out.Seek(0, SEEK_END) < 0) return -1;
  const int64_t length = AppendLinkedPackage(out, package);
  return out.Close() ? length : -1;
}

int64_t AppendLinkedPackage(File& target, const std::string& package) {
  File in = File::Open(package, File::Mode::kRead);
  if (!in.IsOpen()) return -1;
  const int64_t length = in.Size();
  if (length < 0 || length > std::numeric_limits<int32_t>::max()) return -1;
  uint32_t crc = 0;
  if (CopyBytes(in, target, length, crc) != CopyFailure::kNone) return -1;

  unsigned char tail[kLinkTailSize] = {};
  PutLE32(tail, static_cast<uint32_t>(length));
  unsigned char* block = tail + kLinkLengthSize;
  std::memcpy(block, kLinkTrailerText, kLinkTrailerTextSize);
  std::memcpy(block + kChecksumTagOffset, kChecksumTag, 4);
  PutLE32(block + kChecksumOffset, crc);
  if (target.Write(tail, sizeof tail) != kLinkTailSize) return -1;
  return length;
}

LinkedPackage FindLinkedPackage(const std::string& executable) {
  File file = File::Open(executable, File::Mode::kRead);
  if (!file.IsOpen()) {
    LinkedPackage found;
    found.error = file.LastError();
    return found;
  }
  return ReadTrailer(file);
}

bool HasLinkedPackage(const std::string& path) {
  return FindLinkedPackage(path).found;
}

int64_t ExtractLinkedPackage(const std::string& executable, const std::string& output) {
  return ExtractLinkedPackage(executable, FindLinkedPackage(executable), output);
}

const char* ChecksumStateName(ChecksumState state) {
  switch (state) {
    case ChecksumState::kGood:
      return "good";
    case ChecksumState::kBad:
      return "bad";
    case ChecksumState::kNone:
      break;
  }
  return "none";
}

LinkedCopy CopyLinkedPackage(const std::string& executable, const LinkedPackage& found, File& out) {
  LinkedCopy copy;
  if (!found.found) {
    copy.problem = "no package is linked to " + executable;
    return copy;
  }
  File in = File::Open(executable, File::Mode::kRead);
  if (!in.IsOpen() || in.Seek(found.offset, SEEK_SET) < 0) {
    copy.problem = "cannot read " + executable + ": " + Cause(in.LastError());
    return copy;
  }
  uint32_t crc = 0;
  switch (CopyBytes(in, out, found.length, crc)) {
    case CopyFailure::kRead:
      copy.problem = "cannot read " + executable + ": " + Cause(in.LastError());
      return copy;
    case CopyFailure::kCutShort:
      copy.problem = executable + " became shorter while its package was copied out";
      return copy;
    case CopyFailure::kWrite:
      copy.problem =
          "cannot write the package copied out of " + executable + ": " + Cause(out.LastError());
      return copy;
    case CopyFailure::kNone:
      break;
  }
  copy.length = found.length;
  if (!found.checksum) return copy;
  if (crc == *found.checksum) {
    copy.checksum = ChecksumState::kGood;
    return copy;
  }
  copy.checksum = ChecksumState::kBad;
  copy.problem = "the update application is damaged: its package's CRC-32 is " + HexWord(crc) +
                 ", its trailer says " + HexWord(*found.checksum) +
                 "; fetch the update application again";
  return copy;
}

int64_t ExtractLinkedPackage(const std::string& executable, const LinkedPackage& found,
                             const std::string& output) {
  File out = File::Open(output, File::Mode::kCreateTruncate);
  if (!out.IsOpen() || !found.found) return -1;
  const LinkedCopy copy = CopyLinkedPackage(executable, found, out);
  return copy.Usable() && out.Close() ? copy.length : -1;
}

std::string ExtractLinkedPackageToTemp(const std::string& executable) {
  return ExtractLinkedPackageToTemp(executable, FindLinkedPackage(executable)).Release();
}

platform::TempFile ExtractLinkedPackageToTemp(const std::string& executable,
                                              const LinkedPackage& found, std::string* problem) {
  if (!found.found) return {};
  // Beside the executable as usual; an installed copy's folder is read-only, so the
  // temporary-files folder serves then. The file is ours (created exclusively, 0600), so
  // it is overwritten in place rather than deleted and made anew.
  platform::TempFile file = platform::TempFile::Create(platform::FolderOf(executable), kTempPrefix);
  if (!file.IsOpen()) file = platform::TempFile::Create(platform::TempFolder(), kTempPrefix);
  std::string why;
  if (!file.IsOpen()) {
    why = "no temporary file could be made for the package: " + Cause(file.LastError());
  } else {
    File out = File::Open(file.Path(), File::Mode::kCreateTruncate);
    const LinkedCopy copy = out.IsOpen() ? CopyLinkedPackage(executable, found, out) : LinkedCopy{};
    if (copy.Usable() && out.Close()) return file;
    why = !copy.problem.empty() ? copy.problem
                                : "cannot write " + file.Path() + ": " + Cause(out.LastError());
  }
  if (problem != nullptr) *problem = why;
  return {};
}

}  // namespace fwp
