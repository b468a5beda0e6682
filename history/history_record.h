// One update in the update history: which printer, which package, how it ended. Each is
// one line of JSON in the history file and one object of `--history --json`, in the
// "historyRecord" shape of docs/outcome.schema.json:
//
//   {"schema":1,"record":"update","time_utc":"2024-05-01T09:30:00Z",
//    "program_version":"1.0.0","printer":{"serial":"A1","port_path":"1-1.4"},
//    "package":{"file":"pkg.fwp","sha256":"9f86...","version":"V2.13"},
//    "status":"success","exit_status":0,"message":"Update Success!",
//    "durations":{"total":95.2,"writing":61.0}}
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace history {

struct HistoryRecord {
  std::string timeUtc;                       // "YYYY-MM-DDTHH:MM:SSZ"; Append stamps an empty one
  std::string programVersion;                // of the program that wrote the printer
  std::string serial;                        // the printer's serial number; "" when it reports none
  std::string portPath;                      // the printer's USB port path ("1-1.4")
  std::string packageFile;                   // the package's file name
  std::optional<std::string> packageSha256;  // 64 lower-case hex digits, when known
  std::string packageVersion;                // the package's version label
  std::string status;  // an outcome status: "success", "failed", ... (IsKnownStatus)
  int exitStatus = 0;
  std::optional<std::string> message;
  double totalSeconds = 0;
  std::optional<double> writingSeconds;  // none when nothing was written

  bool operator==(const HistoryRecord&) const = default;
};

// The outcome statuses: "success", "failed", "failed_after_image", "stopped",
// "stopped_after_image", "declined", "refused", "unchanged".
bool IsKnownStatus(std::string_view status);

// t as "YYYY-MM-DDTHH:MM:SSZ" (UTC, whole seconds).
std::string UtcTimeText(std::chrono::system_clock::time_point t);
std::string UtcNow();

// "" when record may be written, else what is wrong with it (an unknown status, an
// exit status outside 0..255, a malformed time or SHA-256, a negative duration, no
// program version).
std::string CheckRecord(const HistoryRecord& record);

// A text as the history keeps it. Serial numbers, file names and version labels are bytes
// as the device and the file system gave them: valid UTF-8 stays as it is, every byte of
// a broken sequence becomes the four characters "\xNN" (upper-case hex) and a backslash
// becomes two, so that texts that differ in their bytes differ in the history too.
std::string StoredText(std::string_view bytes);

// The record as one line of JSON, without the line break, its texts as StoredText keeps
// them. Durations are rounded to the millisecond.
std::string RecordJson(const HistoryRecord& record);

// The record one line holds, or why it holds none ("not JSON", which member is
// missing or wrong). Members the record does not know are passed over.
struct ParsedRecord {
  std::optional<HistoryRecord> record;
  std::string problem;
};
ParsedRecord ParseRecordJson(std::string_view line);

}  // namespace history
