// A file of lines that several processes append to at once (the update history, which
// the children of an update of every printer write at the same time), and its reader.
//
// Every append opens the file, takes an exclusive flock, writes the whole line in one
// write() and closes it again: no line is ever interleaved with or torn by another, and
// a line that the disk could not take whole is taken back. The file may be rotated: when
// a line would take it past a size, it is first renamed to an older name (replacing the
// file of that name) and a new file begins.
//
//   platform::LockedAppendOptions options;
//   options.rotateAt = 10 << 20;
//   options.rotatedPath = path + ".1";
//   platform::AppendResult result = platform::LockedAppend(path, line + "\n", options);
//   if (!result.problem.empty()) ... warn: result.problem ...
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct LockedAppendOptions {
  unsigned permissions = 0600;  // of the file when this makes it (exactly, whatever the umask)
  // When the file holds something and the line would take it past this many bytes, it
  // is renamed to rotatedPath first. 0 never rotates.
  int64_t rotateAt = 0;
  std::string rotatedPath;
  // How long to wait for another process to give up its lock on the file.
  std::chrono::milliseconds lockWait{5000};
};

struct AppendResult {
  bool written = false;  // the line is in the file, whole
  // Why the line was not written, or (with written) why the file could not be rotated;
  // "" when all went well. In words for a warning, naming the file.
  std::string problem;
};

// Appends line (ending in "\n") to the regular file at path, making the file when there
// is none (never following a symbolic link). When the file does not end with a line
// break (a write cut short by a crash), one goes first, so that the damage stays in one
// line. Never throws.
AppendResult LockedAppend(const std::string& path, std::string_view line,
                          const LockedAppendOptions& options);

// One file as ReadLocked read it.
struct LockedText {
  std::string text;      // the file's bytes: at most maxBytes, from its end
  bool missing = false;  // there is no file of that name
  bool cut = false;      // the file is longer than maxBytes: text holds only its end
  std::string problem;   // why it could not be read (not for a missing file); "" otherwise
};
// Reads the regular files at paths, in this order, while a shared flock on the first
// keeps LockedAppend from adding a line or rotating meanwhile (a lock that cannot be had
// within lockWait is read without). Returns one entry per path. Never throws.
std::vector<LockedText> ReadLocked(const std::vector<std::string>& paths, int64_t maxBytes,
                                   std::chrono::milliseconds lockWait);

}  // namespace platform
