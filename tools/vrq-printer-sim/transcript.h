// What the simulated printer received: every command line in order, every breach of the
// command dialogue on a line of its own beginning with "VIOLATION:", and the bytes a
// close of the host dropped on a line beginning with "lost at close:". Lines go to
// each attached file as they happen, so a crashed run still leaves its transcript.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

inline constexpr const char* kViolationPrefix = "VIOLATION: ";

class Transcript {
 public:
  // Writes every line from now on to path as well (created or truncated).
  bool AttachFile(const std::string& path);
  // Writes every line from now on to file as well, after prefix; several transcripts
  // may share one file this way.
  void AttachShared(std::shared_ptr<std::FILE> file, std::string prefix);
  // Opens path (created or truncated) for AttachShared; null when it cannot.
  static std::shared_ptr<std::FILE> OpenShared(const std::string& path);
  // Begins every line written to the files from now on with the seconds since origin,
  // to the millisecond, and a blank ("12.345 CKID"); Lines() stay as they are.
  void StampTimes(std::chrono::steady_clock::time_point origin) { origin_ = origin; }

  // A received command line without its line ending. Bytes that are not printable
  // ASCII are written as \xNN and a backslash as "\\", so one line stays one line.
  void AddCommand(const std::string& line);
  void AddViolation(const std::string& text);
  // A line about what happened to the host's data ("lost at close: ..."), as it is.
  void AddNote(const std::string& text) { Add(text); }

  const std::vector<std::string>& Lines() const { return lines_; }
  int ViolationCount() const { return violations_; }

  static std::string Escape(const std::string& text);

 private:
  void Add(const std::string& line);

  struct Output {
    std::shared_ptr<std::FILE> file;
    std::string prefix;
  };
  std::vector<Output> files_;
  std::optional<std::chrono::steady_clock::time_point> origin_;
  std::vector<std::string> lines_;
  int violations_ = 0;
};

}  // namespace sim
