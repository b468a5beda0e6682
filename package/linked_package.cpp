#include "package/linked_package.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "package/package_format.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace fwp {

namespace {

using platform::File;

// Copies go through a fixed buffer: neither file is read whole.
constexpr int64_t kCopyChunk = 16384;

// Copies length bytes from source (at its position) to target, a chunk at a time.
bool CopyBytes(File& source, File& target, int64_t length) {
  std::vector<unsigned char> chunk(kCopyChunk);
  while (length > 0) {
    auto want = static_cast<size_t>(std::min<int64_t>(length, kCopyChunk));
    if (source.Read(chunk.data(), want) != static_cast<int64_t>(want)) return false;
    if (target.Write(chunk.data(), want) != static_cast<int64_t>(want)) return false;
    length -= static_cast<int64_t>(want);
  }
  return true;
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
  if (got != kLinkTailSize ||
      std::memcmp(tail + kLinkLengthSize, kLinkTrailerText, kLinkTrailerTextSize) != 0) {
    return found;
  }
  found.length = GetLE32(tail);
  found.offset = size - kLinkTailSize - found.length;
  found.found = found.offset >= 0;  // a length that points before the file is damage
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
  if (!CopyBytes(in, target, length)) return -1;

  unsigned char tail[kLinkTailSize] = {};
  PutLE32(tail, static_cast<uint32_t>(length));
  std::memcpy(tail + kLinkLengthSize, kLinkTrailerText, kLinkTrailerTextSize);
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

int64_t ExtractLinkedPackage(const std::string& executable, const LinkedPackage& found,
                             const std::string& output) {
  File out = File::Open(output, File::Mode::kCreateTruncate);
  if (!out.IsOpen() || !found.found) return -1;
  File in = File::Open(executable, File::Mode::kRead);
  if (!in.IsOpen() || in.Seek(found.offset, SEEK_SET) < 0) return -1;
  if (!CopyBytes(in, out, found.length)) return -1;
  return out.Close() ? found.length : -1;
}

std::string ExtractLinkedPackageToTemp(const std::string& executable) {
  return ExtractLinkedPackageToTemp(executable, FindLinkedPackage(executable)).Release();
}

platform::TempFile ExtractLinkedPackageToTemp(const std::string& executable,
                                              const LinkedPackage& found) {
  if (!found.found) return {};
  // Beside the executable as usual; an installed copy's folder is read-only, so the
  // temporary-files folder serves then. The file is ours (created exclusively, 0600), so
  // it is overwritten in place rather than deleted and made anew.
  platform::TempFile file = platform::TempFile::Create(platform::FolderOf(executable), kTempPrefix);
  if (!file.IsOpen()) file = platform::TempFile::Create(platform::TempFolder(), kTempPrefix);
  if (!file.IsOpen() || ExtractLinkedPackage(executable, found, file.Path()) < 0) return {};
  return file;
}

}  // namespace fwp
