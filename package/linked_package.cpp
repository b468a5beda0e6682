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

constexpr char kFetchAgain[] = "fetch the update application again";

enum class CopyFailure { kNone, kRead, kCutShort, kWrite, kStopped };

// Reads length bytes from source (at its position), continues crc over them and writes
// them to target when there is one, a chunk at a time; gives up between two chunks when
// stopRequested says so.
CopyFailure CopyBytes(File& source, File* target, int64_t length, uint32_t& crc,
                      const StopRequested& stopRequested = {}) {
  std::vector<unsigned char> chunk(static_cast<size_t>(std::min(length, kCopyChunk)));
  while (length > 0) {
    if (stopRequested && stopRequested()) return CopyFailure::kStopped;
    auto want = static_cast<size_t>(std::min<int64_t>(length, kCopyChunk));
    const int64_t got = source.Read(chunk.data(), want);
    if (got < 0) return CopyFailure::kRead;
    if (got != static_cast<int64_t>(want)) return CopyFailure::kCutShort;
    crc = Crc32(crc, chunk.data(), want);
    if (target != nullptr && target->Write(chunk.data(), want) != static_cast<int64_t>(want)) {
      return CopyFailure::kWrite;
    }
    length -= static_cast<int64_t>(want);
  }
  return CopyFailure::kNone;
}

std::string HexWord(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string Damaged(const std::string& why) {
  return "the update application is damaged: " + why + "; " + kFetchAgain;
}

// What the bytes behind the trailer text say about checksums.
void ReadChecksumMark(const unsigned char* block, LinkedPackage& found) {
  const unsigned char* mark = block + kChecksumTagOffset;
  if (std::memcmp(mark, kChecksumTag, 4) == 0) {
    found.checksum = GetLE32(block + kChecksumOffset);
    if (const uint32_t program = GetLE32(block + kProgramChecksumOffset); program != 0) {
      found.programChecksum = program;
    }
    return;
  }
  if (GetLE32(mark) == 0) return;  // made before update applications carried checksums
  char bytes[16];
  std::snprintf(bytes, sizeof bytes, "%02X %02X %02X %02X", mark[0], mark[1], mark[2], mark[3]);
  found.warning = std::string(
                      "the checksum mark in the update application's trailer is damaged "
                      "(it reads ") +
                  bytes + ", not \"CRC1\"): its package and program are used unchecked";
}

// Reads the trailer of an open file.
LinkedPackage ReadTrailer(File& file) {
  LinkedPackage found;
  const int64_t size = file.Size();
  unsigned char tail[kLinkTailSize];
  const int64_t have = std::min(size, kLinkTailSize);
  const int64_t got = size < kLinkTrailerSize ? 0
                                              : file.ReadAt(tail + kLinkTailSize - have,
                                                            static_cast<size_t>(have), size - have);
  if (size < 0 || got < 0) {
    found.error = file.LastError();
    return found;
  }
  const unsigned char* block = tail + kLinkLengthSize;
  if (size < kLinkTrailerSize || got != have ||
      std::memcmp(block, kLinkTrailerText, kLinkTrailerTextSize) != 0) {
    return found;
  }
  found.marked = true;
  if (size < kLinkTailSize) {
    found.damage = Damaged("it ends with the trailer of a linked package but is too short (" +
                           std::to_string(size) + " bytes) to hold one");
    return found;
  }
  found.length = GetLE32(tail);
  found.offset = size - kLinkTailSize - found.length;
  if (found.offset < 0) {
    found.damage = Damaged("its trailer gives the linked package a length of " +
                           std::to_string(found.length) + " bytes, but only " +
                           std::to_string(size - kLinkTailSize) + " bytes come before it");
    return found;
  }
  found.found = true;
  ReadChecksumMark(block, found);
  return found;
}

void PutTrailer(unsigned char (&tail)[kLinkTailSize], uint32_t length, uint32_t packageChecksum,
                uint32_t programChecksum) {
  std::memset(tail, 0, sizeof tail);
  PutLE32(tail, length);
  unsigned char* block = tail + kLinkLengthSize;
  std::memcpy(block, kLinkTrailerText, kLinkTrailerTextSize);
  std::memcpy(block + kChecksumTagOffset, kChecksumTag, 4);
  PutLE32(block + kChecksumOffset, packageChecksum);
  PutLE32(block + kProgramChecksumOffset, programChecksum);
}

ChecksumState Compare(uint32_t computed, const std::optional<uint32_t>& stated,
                      const std::string& what, std::vector<std::string>& mismatches) {
  if (!stated) return ChecksumState::kNone;
  if (computed == *stated) return ChecksumState::kGood;
  mismatches.push_back("the CRC-32 of its " + what + " is " + HexWord(computed) +
                       ", its trailer says " + HexWord(*stated));
  return ChecksumState::kBad;
}

// Reads the program part (when its checksum is to be compared) and the package where
// they lie, copying the package to out when there is one.
LinkedCopy ReadLinkedPackage(const std::string& executable, const LinkedPackage& found, File* out,
                             const StopRequested& stopRequested = {}) {
  LinkedCopy copy;
  if (!found.found) {
    copy.problem = found.marked ? found.damage : "no package is linked to " + executable;
    return copy;
  }
  File in = File::Open(executable, File::Mode::kRead);
  uint32_t programCrc = 0;
  CopyFailure failure = in.IsOpen() ? CopyFailure::kNone : CopyFailure::kRead;
  if (failure == CopyFailure::kNone && found.programChecksum) {
    failure = CopyBytes(in, nullptr, found.offset, programCrc, stopRequested);
  }
  if (failure == CopyFailure::kNone && in.Seek(found.offset, SEEK_SET) < 0) {
    failure = CopyFailure::kRead;
  }
  uint32_t crc = 0;
  if (failure == CopyFailure::kNone) failure = CopyBytes(in, out, found.length, crc, stopRequested);
  switch (failure) {
    case CopyFailure::kRead:
      copy.problem = in.IsOpen()
                         ? "cannot read " + executable + ": " + platform::ErrorText(in.LastError())
                         : platform::OpenFailure(executable, in.LastError());
      return copy;
    case CopyFailure::kCutShort:
      copy.problem = executable + " became shorter while its package was read";
      return copy;
    case CopyFailure::kWrite:
      copy.writeError = out->LastError();
      copy.problem = "cannot write the package copied out of " + executable + ": " +
                     platform::ErrorText(copy.writeError);
      return copy;
    case CopyFailure::kStopped:
      copy.stopped = true;
      copy.problem = "stopped while the package of " + executable + " was copied out";
      return copy;
    case CopyFailure::kNone:
      break;
  }
  copy.length = found.length;
  std::vector<std::string> mismatches;
  copy.checksum = Compare(crc, found.checksum, "package", mismatches);
  copy.programChecksum = Compare(programCrc, found.programChecksum, "program part", mismatches);
  if (!mismatches.empty()) {
    std::string why = mismatches[0];
    if (mismatches.size() > 1) why += ", and " + mismatches[1];
    copy.problem = Damaged(why);
  }
  return copy;
}

}  // namespace

int64_t AppendLinkedPackage(const std::string& target, const std::string& package) {
  File out = File::Open(target, File::Mode::kReadWrite);
  File in = File::Open(package, File::Mode::kRead);
  const int64_t programSize = out.IsOpen() ? out.Size() : -1;
  uint32_t programCrc = 0;
  if (!in.IsOpen() || programSize < 0 ||
      CopyBytes(out, nullptr, programSize, programCrc) != CopyFailure::kNone) {
    return -1;
  }
  const int64_t length = AppendLinkedPackage(out, programCrc, in);
  return out.Close() ? length : -1;
}

int64_t AppendLinkedPackage(File& target, uint32_t programChecksum, File& package) {
  const int64_t length = package.Size();
  if (length < 0 || length > std::numeric_limits<int32_t>::max()) return -1;
  uint32_t crc = 0;
  if (CopyBytes(package, &target, length, crc) != CopyFailure::kNone) return -1;
  unsigned char tail[kLinkTailSize];
  PutTrailer(tail, static_cast<uint32_t>(length), crc, programChecksum);
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
  return FindLinkedPackage(path).marked;
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

LinkedCopy CopyLinkedPackage(const std::string& executable, const LinkedPackage& found, File& out,
                             const StopRequested& stopRequested) {
  return ReadLinkedPackage(executable, found, &out, stopRequested);
}

LinkedCopy CheckLinkedChecksums(const std::string& executable, const LinkedPackage& found) {
  return ReadLinkedPackage(executable, found, nullptr);
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

namespace {

// A folder too small for the package: the next place may have room.
bool OutOfRoom(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

}  // namespace

platform::TempFile ExtractLinkedPackageToTemp(const std::string& executable,
                                              const LinkedPackage& found, std::string* problem,
                                              const StopRequested& stopRequested) {
  if (!found.found) {
    if (problem != nullptr) *problem = found.damage;
    return {};
  }
  // Beside the executable as usual, unless that folder is not the user's or is an
  // installed program's; the next place when one has no room for the package (the
  // runtime folder is often small). The file is ours (created exclusively, 0600), so it
  // is overwritten in place rather than deleted and made anew.
  std::string why = "no temporary file could be made for the package";
  for (const std::string& folder : platform::TempFileFolders(platform::FolderOf(executable))) {
    platform::TempFile file = platform::TempFile::Create(folder, kTempPrefix);
    if (!file.IsOpen()) {
      why = "no temporary file could be made for the package: " +
            platform::ErrorText(file.LastError());
      continue;
    }
    File out = File::Open(file.Path(), File::Mode::kCreateTruncate);
    const LinkedCopy copy =
        out.IsOpen() ? CopyLinkedPackage(executable, found, out, stopRequested) : LinkedCopy{};
    if (copy.Usable() && out.Close()) return file;
    const int error = copy.writeError != 0 ? copy.writeError : out.LastError();
    why = !copy.problem.empty() ? copy.problem
                                : "cannot write " + file.Path() + ": " + platform::ErrorText(error);
    if (copy.stopped || !OutOfRoom(error)) break;
  }
  if (problem != nullptr) *problem = why;
  return {};
}

}  // namespace fwp
