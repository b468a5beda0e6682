// A file that takes the place of another only once it is complete. It is written as a
// new temporary file beside its target, created exclusively (so nothing planted under
// that name is ever written through) and locked while it is written; Commit renames it
// over the target, which replaces a symlink or someone else's file there instead of
// writing into it. Until then the target is untouched, and an owner that goes without
// Commit (a failure, an exception, a stop) removes the temporary file.
#pragma once

#include <optional>
#include <string>

#include "platform/file.h"

namespace platform {

class ReplacingFile {
 public:
  // Starts the file that will replace target: "_^~XXXX.tmp" in target's folder, mode
  // 0600. IsOpen() tells whether that worked and LastError() why not.
  static ReplacingFile Begin(const std::string& target);

  ReplacingFile(ReplacingFile&& other) noexcept;
  ReplacingFile& operator=(ReplacingFile&&) = delete;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();

  bool IsOpen() const { return output_.IsOpen(); }
  int LastError() const { return error_; }
  const std::string& TemporaryPath() const { return temporary_; }
  // Where the content goes; write it all before Commit.
  File& Output() { return output_; }

  // Gives the file these permission bits, flushes it to the disk and renames it over the
  // target. False, with LastError(), when any of that failed; the temporary file is gone
  // then, and the target as it was.
  bool Commit(unsigned permissions);

 private:
  ReplacingFile() = default;
  bool Fail();

  std::string target_;
  std::string temporary_;  // "" once committed or given up
  File output_;
  int error_ = 0;
};

// The permission bits of a file (following symlinks); nullopt when it cannot be examined.
std::optional<unsigned> PermissionBits(const std::string& path);

}  // namespace platform
