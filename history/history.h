// The update history: one JSON line per update that opened a printer, appended by every
// run (several at once under --all), read newest first.
//
//   history::History log(history::CurrentLocation());
//   history::AppendOutcome written = log.Append(record);
//   if (!written.problem.empty()) ... a warning: written.problem ...
//
//   history::ReadOutcome read = log.Read({"1-1.4"});  // or {} for every printer
//   for (auto& warning : read.warnings) ... one per damaged line ...
//   for (auto& record : read.records) ... newest first ...
//
//   std::optional<history::HistoryRecord> latest = log.LatestFor(serial);
//   if (history::UpdatedWith(latest, sha256)) ... nothing to do for this printer ...
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/history_record.h"

namespace history {

// The history file is renamed to "history.jsonl.1" when a line would take it past this.
inline constexpr int64_t kRotateBytes = 10 * 1024 * 1024;
// The most read of each file: more is somebody else's doing, and only its end is read.
inline constexpr int64_t kReadLimitBytes = 64 * 1024 * 1024;

// What decides where the history lives. CurrentLocationInputs() gives this process's;
// tests give their own.
struct LocationInputs {
  unsigned effectiveUid = 0;
  std::optional<std::string> xdgStateHome;  // $XDG_STATE_HOME, when set
  std::optional<std::string> home;          // $HOME, when set
  std::string userDatabaseHome;             // the user database's home, used when $HOME is no path
};
LocationInputs CurrentLocationInputs();

// Where the history lives: /var/lib/vrq-update/history.jsonl for root, else
// $XDG_STATE_HOME/vrq-update/history.jsonl ($XDG_STATE_HOME unless it is empty or
// relative, else ~/.local/state).
struct Location {
  std::string folder;          // "/var/lib/vrq-update"; "" when problem
  std::string file;            // folder + "/history.jsonl"
  std::string rotated;         // file + ".1"
  unsigned folderMode = 0700;  // of the folders Append makes
  unsigned fileMode = 0600;    // of the file Append makes
  std::string problem;         // why no place can be named (a user with no home folder)
};
Location ResolveLocation(const LocationInputs& inputs);
Location CurrentLocation();

struct AppendOutcome {
  bool written = false;  // the record is in the history
  std::string problem;   // why not (or why the file could not be rotated); "" when all went well
};

struct ReadOutcome {
  std::vector<HistoryRecord> records;  // newest first
  // One per damaged line ("history line N is damaged; skipped (FILE: WHY)") and per file
  // that could not be read. None of them stops the read.
  std::vector<std::string> warnings;
};

class History {
 public:
  explicit History(Location location, int64_t rotateBytes = kRotateBytes);

  const Location& Where() const { return location_; }

  // Appends record as one line, making the folder and the file when missing, and
  // rotating the file past rotateBytes. An empty time is stamped with now. Never throws;
  // a record that cannot be written (read-only folder, full disk, a record CheckRecord
  // finds wrong) leaves the history as it was and says why.
  AppendOutcome Append(HistoryRecord record) const;

  // Every record, newest first (the current file from its end, then the rotated one),
  // or only those whose serial or USB port path is one of printers (none: every
  // record). A missing file is an empty history. The records' texts are as StoredText
  // keeps them; printers are compared in that form.
  ReadOutcome Read(const std::vector<std::string>& printers = {}) const;

  // The newest record for the printer of this serial number; none for an empty serial.
  // Damaged lines passed on the way are added to warnings when given.
  std::optional<HistoryRecord> LatestFor(const std::string& serial,
                                         std::vector<std::string>* warnings = nullptr) const;

 private:
  template <typename Visit>
  ReadOutcome Scan(Visit visit) const;

  Location location_;
  int64_t rotateBytes_;
};

// True when latest says its printer was updated successfully from the package of this
// SHA-256: a rerun of the same package has nothing to do for it.
bool UpdatedWith(const std::optional<HistoryRecord>& latest, const std::string& sha256);

}  // namespace history
