#include "history/history.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <utility>

#include "platform/fs.h"
#include "platform/locked_append.h"

namespace history {

namespace {

constexpr std::chrono::milliseconds kLockWait{5000};

bool IsAbsolute(const std::optional<std::string>& path) {
  return path && !path->empty() && path->front() == '/';
}

// folder + "/" + name, with no doubled slash.
std::string Join(const std::string& folder, const std::string& name) {
  std::string joined = platform::WithoutTrailingSlash(folder);
  if (joined == "/") joined.clear();
  return joined + "/" + name;
}

// The lines of text, the last one also when it lacks its line break. Without whole, the
// first is dropped: it is the end of a line whose beginning was not read.
std::vector<std::string_view> Lines(std::string_view text, bool whole) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  if (!whole) {
    const size_t end = text.find('\n');
    start = end == std::string_view::npos ? text.size() : end + 1;
  }
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

}  // namespace

LocationInputs CurrentLocationInputs() {
  LocationInputs inputs;
  inputs.effectiveUid = platform::EffectiveUserId();
  if (const char* value = std::getenv("XDG_STATE_HOME")) inputs.xdgStateHome = value;
  if (const char* value = std::getenv("HOME")) inputs.home = value;
  if (inputs.effectiveUid != 0 && !IsAbsolute(inputs.home)) {
    inputs.userDatabaseHome = platform::UserDatabaseHome(inputs.effectiveUid);
  }
  return inputs;
}

Location ResolveLocation(const LocationInputs& inputs) {
  Location where;
  if (inputs.effectiveUid == 0) {
    where.folder = "/var/lib/vrq-update";
    where.folderMode = 0755;
    where.fileMode = 0644;
  } else {
    // A relative $XDG_STATE_HOME is not used: it would name a folder below wherever the
    // program happens to run.
    std::string base;
    if (IsAbsolute(inputs.xdgStateHome)) {
      base = *inputs.xdgStateHome;
    } else if (IsAbsolute(inputs.home)) {
      base = Join(*inputs.home, ".local/state");
    } else if (IsAbsolute(inputs.userDatabaseHome)) {
      base = Join(inputs.userDatabaseHome, ".local/state");
    } else {
      where.problem =
          "there is no folder for the update history: $HOME is not set and the user "
          "database names no home folder";
      return where;
    }
    where.folder = Join(base, "vrq-update");
  }
  where.file = where.folder + "/history.jsonl";
  where.rotated = where.file + ".1";
  return where;
}

Location CurrentLocation() {
  return ResolveLocation(CurrentLocationInputs());
}

History::History(Location location, int64_t rotateBytes)
    : location_(std::move(location)), rotateBytes_(rotateBytes) {}

AppendOutcome History::Append(HistoryRecord record) const {
  if (!location_.problem.empty()) return {false, location_.problem};
  try {
    if (record.timeUtc.empty()) record.timeUtc = UtcNow();
    if (std::string wrong = CheckRecord(record); !wrong.empty()) {
      return {false, "the update history record is not written: " + wrong};
    }
    if (std::string problem = platform::CreateFolderPath(location_.folder, location_.folderMode);
        !problem.empty()) {
      return {false, problem};
    }
    platform::LockedAppendOptions options;
    options.permissions = location_.fileMode;
    options.rotateAt = rotateBytes_;
    options.rotatedPath = location_.rotated;
    options.lockWait = kLockWait;
    platform::AppendResult result =
        platform::LockedAppend(location_.file, RecordJson(record) + "\n", options);
    return {result.written, std::move(result.problem)};
  } catch (const std::exception& error) {
    return {false, std::string("cannot write the update history: ") + error.what()};
  }
}

// Calls visit(record) for every record, newest first, until it returns true.
template <typename Visit>
ReadOutcome History::Scan(Visit visit) const {
  ReadOutcome outcome;
  if (!location_.problem.empty()) {
    outcome.warnings.push_back(location_.problem);
    return outcome;
  }
  const std::vector<std::string> paths = {location_.file, location_.rotated};
  std::vector<platform::LockedText> texts = platform::ReadLocked(paths, kReadLimitBytes, kLockWait);
  for (size_t i = 0; i < paths.size(); ++i) {
    const platform::LockedText& file = texts[i];
    if (!file.problem.empty()) outcome.warnings.push_back(file.problem);
    if (file.cut) {
      outcome.warnings.push_back(paths[i] + " is larger than " +
                                 std::to_string(kReadLimitBytes >> 20) +
                                 " MiB: only its end is read, lines counted from there");
    }
    const std::vector<std::string_view> lines = Lines(file.text, !file.cut);
    std::vector<std::string> damaged;  // found from the end, told from the start
    bool stop = false;
    for (size_t n = lines.size(); n > 0 && !stop; --n) {
      if (IsBlank(lines[n - 1])) continue;
      ParsedRecord parsed = ParseRecordJson(lines[n - 1]);
      if (parsed.record) {
        stop = visit(std::move(*parsed.record), outcome);
      } else {
        damaged.push_back("history line " + std::to_string(n) + " is damaged; skipped (" +
                          paths[i] + ": " + parsed.problem + ")");
      }
    }
    outcome.warnings.insert(outcome.warnings.end(), damaged.rbegin(), damaged.rend());
    if (stop) break;
  }
  return outcome;
}

ReadOutcome History::Read(const std::vector<std::string>& printers) const {
  std::vector<std::string> names;
  for (const std::string& name : printers)
    names.push_back(StoredText(name));
  try {
    return Scan([&](HistoryRecord&& record, ReadOutcome& outcome) {
      const bool wanted =
          names.empty() || std::any_of(names.begin(), names.end(), [&](const std::string& name) {
            return !name.empty() && (name == record.serial || name == record.portPath);
          });
      if (wanted) outcome.records.push_back(std::move(record));
      return false;
    });
  } catch (const std::exception& error) {
    return {{}, {std::string("cannot read the update history: ") + error.what()}};
  }
}

std::optional<HistoryRecord> History::LatestFor(const std::string& serial,
                                                std::vector<std::string>* warnings) const {
  if (serial.empty()) return std::nullopt;
  const std::string stored = StoredText(serial);
  try {
    ReadOutcome outcome = Scan([&](HistoryRecord&& record, ReadOutcome& found) {
      if (record.serial != stored) return false;
      found.records.push_back(std::move(record));
      return true;
    });
    if (warnings != nullptr) {
      warnings->insert(warnings->end(), outcome.warnings.begin(), outcome.warnings.end());
    }
    if (outcome.records.empty()) return std::nullopt;
    return std::move(outcome.records.front());
  } catch (const std::exception& error) {
    if (warnings != nullptr)
      warnings->push_back(std::string("cannot read the update history: ") + error.what());
    return std::nullopt;
  }
}

bool UpdatedWith(const std::optional<HistoryRecord>& latest, const std::string& sha256) {
  return latest && latest->status == "success" && latest->packageSha256 && !sha256.empty() &&
         *latest->packageSha256 == sha256;
}

}  // namespace history
