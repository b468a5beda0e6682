// A package linked to the end of an executable:
//   executable | package (L bytes) | L (uint32 LE) | trailer block (32 bytes)
// The trailer block: "LINK FILE 1.00", two zero bytes, "CRC1", the CRC-32 of the L
// package bytes, the CRC-32 of the program part (every byte before the package), both
// uint32 LE, four zero bytes. Only the first 14 bytes say that a package is linked;
// update applications made before the checksums have zeros after them and are used
// unchecked, and a program checksum of zero is not checked either. Only the last trailer
// counts.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/temp_file.h"

namespace platform {
class File;
}

namespace fwp {

inline constexpr char kLinkTrailerText[] = "LINK FILE 1.00";
inline constexpr int64_t kLinkTrailerTextSize = 14;
inline constexpr int64_t kLinkTrailerSize = 32;
inline constexpr int64_t kLinkLengthSize = 4;
inline constexpr int64_t kLinkTailSize = kLinkTrailerSize + kLinkLengthSize;  // 36
inline constexpr char kChecksumTag[] = "CRC1";
inline constexpr int64_t kChecksumTagOffset = 16;  // in the trailer block
inline constexpr int64_t kChecksumOffset = 20;
inline constexpr int64_t kProgramChecksumOffset = 24;
// The temporary files beside the executable (or where platform::TempFileFolders puts
// them instead) start so.
inline constexpr char kTempPrefix[] = "_^~";

// Asked between two chunks of a long copy: true when the copy is to give up (a request to
// stop the run came in).
using StopRequested = std::function<bool()>;

// Appends the package file to target, then its length and the trailer block with both
// checksums: the program part's from target's bytes, read first, and the package's,
// computed while it is copied. Returns the number of package bytes appended, or -1 when
// a file operation failed (what was written up to then stays in target).
int64_t AppendLinkedPackage(const std::string& target, const std::string& package);
// The same from package, open for reading at its start, into target, open for writing at
// the end of the program part whose CRC-32 is programChecksum (for a file that is
// written elsewhere first and put in place once complete). The package is read once:
// the bytes appended are the bytes its checksum is taken from.
int64_t AppendLinkedPackage(platform::File& target, uint32_t programChecksum,
                            platform::File& package);

// Where the package linked to an executable lies, from one read of its trailer. The
// update reads it once and extracts from what it found:
//
//   fwp::LinkedPackage linked = fwp::FindLinkedPackage(executable);
//   platform::TempFile copy;  // deletes the copy when it goes
//   if (linked.found) copy = fwp::ExtractLinkedPackageToTemp(executable, linked);
//   if (linked.found && !copy.IsOpen()) ... the package could not be copied out ...
struct LinkedPackage {
  bool marked = false;  // the file ends with a trailer block: it is an update application
  bool found = false;   // ... and the trailer's length field fits the file
  int error = 0;        // errno when the file could not be opened or read; 0 otherwise
  int64_t offset = 0;   // of the package's first byte in the executable
  int64_t length = 0;   // L
  std::optional<uint32_t> checksum;         // the trailer's CRC-32 of the package
  std::optional<uint32_t> programChecksum;  // and of the program part, when not zero
  // Why a marked file's package cannot be read: the application is damaged and must be
  // fetched again. "" when found.
  std::string damage;
  // A checksum mark that is neither "CRC1" nor zeros: the package is used unchecked, as
  // an old application's, but that deserves a word. "" otherwise.
  std::string warning;
};
LinkedPackage FindLinkedPackage(const std::string& executable);

// Whether the package copied out of an update application is the one its maker linked.
enum class ChecksumState {
  kNone,  // the trailer carries no checksum (an application made before there was one)
  kGood,
  kBad,  // the application is damaged
};
// "none", "good", "bad".
const char* ChecksumStateName(ChecksumState state);

// How copying a linked package out went. The checksums are computed on the way, so the
// package is read once.
struct LinkedCopy {
  int64_t length = -1;                            // bytes copied: L, or -1 when the copy failed
  ChecksumState checksum = ChecksumState::kNone;  // of the package
  ChecksumState programChecksum = ChecksumState::kNone;  // of the program part
  std::string problem;   // why the copy failed or a checksum does not match
  int writeError = 0;    // errno of a failed write to the copy
  bool stopped = false;  // given up at a request to stop

  // The copy may be used as the package: complete, and not known to be damaged.
  bool Usable() const {
    return length >= 0 && checksum != ChecksumState::kBad && programChecksum != ChecksumState::kBad;
  }
};
// Copies the package found in executable to out, at its position, and compares both
// checksums. A copy whose checksum does not match is complete all the same, for tools
// that show what a damaged application holds.
LinkedCopy CopyLinkedPackage(const std::string& executable, const LinkedPackage& found,
                             platform::File& out, const StopRequested& stopRequested = {});
// Compares both checksums where the package and the program part lie, copying nothing.
LinkedCopy CheckLinkedChecksums(const std::string& executable, const LinkedPackage& found);

// True when the file ends with a trailer block: an update application, also one whose
// trailer is damaged (its package cannot be used then, but it is no plain program).
bool HasLinkedPackage(const std::string& path);

// Copies the linked package of executable into output (created or truncated). Returns
// the package length, or -1 (also when the checksum does not match).
int64_t ExtractLinkedPackage(const std::string& executable, const std::string& output);
// The same for a package already found (output is created even when there is none).
int64_t ExtractLinkedPackage(const std::string& executable, const LinkedPackage& found,
                             const std::string& output);

// Extracts the linked package into a new "_^~XXXX.tmp" file beside the executable, or
// where platform::TempFileFolders says when that folder will not do. Returns
// its path (the caller deletes it), or "" when there is no package or extraction failed;
// a failed extraction leaves no file behind.
std::string ExtractLinkedPackageToTemp(const std::string& executable);
// The same for a package already found, into a temporary file that the returned owner
// holds (locked against the sweep of leftovers) and deletes when it goes. An empty
// owner when there is no package, the trailer is damaged, extracting it failed or a
// checksum does not match, or stopRequested said so during the copy; nothing is left
// behind then, and problem (when given) says why.
platform::TempFile ExtractLinkedPackageToTemp(const std::string& executable,
                                              const LinkedPackage& found,
                                              std::string* problem = nullptr,
                                              const StopRequested& stopRequested = {});

}  // namespace fwp
