#include "history/history_record.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/printable_text.h"

namespace history {

using Json = nlohmann::ordered_json;

namespace {

constexpr std::array<std::string_view, 8> kStatuses = {
    "success",  "failed",  "failed_after_image", "stopped", "stopped_after_image",
    "declined", "refused", "unchanged"};

bool IsSha256(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// "YYYY-MM-DDTHH:MM:SSZ", digits where digits go (the calendar is not checked).
bool IsUtcTime(std::string_view text) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

bool IsSeconds(double value) {
  return std::isfinite(value) && value >= 0;
}

double Milliseconds(double seconds) {
  return std::round(seconds * 1000) / 1000;
}

// The members of a parsed line, each checked for its type; the first wrong one is kept.
class Reader {
 public:
  const std::string& Problem() const { return problem_; }

  const Json* Member(const Json& in, const char* name, const char* where) {
    auto found = in.find(name);
    if (found == in.end()) return Wrong(where, name, "is missing");
    return &*found;
  }
  std::string Text(const Json& in, const char* name, const char* where) {
    const Json* value = Member(in, name, where);
    if (value == nullptr) return {};
    if (!value->is_string()) return Wrong(where, name, "is not a text"), std::string();
    return value->get<std::string>();
  }
  const Json* Object(const Json& in, const char* name) {
    const Json* value = Member(in, name, "");
    if (value != nullptr && !value->is_object()) return Wrong("", name, "is not an object");
    return value;
  }
  std::optional<double> Number(const Json& in, const char* name, const char* where, bool nullable) {
    const Json* value = Member(in, name, where);
    if (value == nullptr || (nullable && value->is_null())) return std::nullopt;
    if (!value->is_number() || !IsSeconds(value->get<double>())) {
      return Wrong(where, name, "is not a number of seconds"), std::nullopt;
    }
    return value->get<double>();
  }
  const Json* Wrong(const char* where, const char* name, const char* what) {
    if (problem_.empty()) problem_ = std::string(where) + name + " " + what;
    return nullptr;
  }

 private:
  std::string problem_;
};

HistoryRecord ReadMembers(const Json& line, Reader& read) {
  HistoryRecord record;
  const Json* schema = read.Member(line, "schema", "");
  if (schema != nullptr && *schema != 1) read.Wrong("", "schema", "is not 1");
  const Json* kind = read.Member(line, "record", "");
  if (kind != nullptr && *kind != "update") read.Wrong("", "record", "is not \"update\"");
  record.timeUtc = read.Text(line, "time_utc", "");
  if (!IsUtcTime(record.timeUtc)) read.Wrong("", "time_utc", "is no UTC time");
  record.programVersion = read.Text(line, "program_version", "");
  if (const Json* printer = read.Object(line, "printer")) {
    record.serial = read.Text(*printer, "serial", "printer.");
    record.portPath = read.Text(*printer, "port_path", "printer.");
  }
  if (const Json* package = read.Object(line, "package")) {
    record.packageFile = read.Text(*package, "file", "package.");
    const Json* sha = read.Member(*package, "sha256", "package.");
    if (sha != nullptr && !sha->is_null()) {
      if (!sha->is_string() || !IsSha256(sha->get<std::string>())) {
        read.Wrong("package.", "sha256", "is not a SHA-256");
      } else {
        record.packageSha256 = sha->get<std::string>();
      }
    }
    record.packageVersion = read.Text(*package, "version", "package.");
  }
  record.status = read.Text(line, "status", "");
  if (!IsKnownStatus(record.status)) read.Wrong("", "status", "is not known");
  const Json* exit = read.Member(line, "exit_status", "");
  if (exit != nullptr && (!exit->is_number_integer() || *exit < 0 || *exit > 255)) {
    read.Wrong("", "exit_status", "is not an exit status");
  } else if (exit != nullptr) {
    record.exitStatus = exit->get<int>();
  }
  if (line.contains("message")) {
    record.message = read.Text(line, "message", "");
  }
  if (const Json* durations = read.Object(line, "durations")) {
    record.totalSeconds = read.Number(*durations, "total", "durations.", false).value_or(0);
    record.writingSeconds = read.Number(*durations, "writing", "durations.", true);
  }
  return record;
}

}  // namespace

bool IsKnownStatus(std::string_view status) {
  for (std::string_view known : kStatuses) {
    if (status == known) return true;
  }
  return false;
}

std::string UtcTimeText(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(t);
  const auto day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss time(seconds - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string UtcNow() {
  return UtcTimeText(std::chrono::system_clock::now());
}

std::string CheckRecord(const HistoryRecord& record) {
  if (!IsUtcTime(record.timeUtc)) return "the time \"" + record.timeUtc + "\" is no UTC time";
  if (record.programVersion.empty()) return "the program version is missing";
  if (!IsKnownStatus(record.status)) return "the status \"" + record.status + "\" is not known";
  if (record.exitStatus < 0 || record.exitStatus > 255) {
    return "the exit status " + std::to_string(record.exitStatus) + " is out of range";
  }
  if (record.packageSha256 && !IsSha256(*record.packageSha256)) {
    return "the package's SHA-256 \"" + *record.packageSha256 + "\" is malformed";
  }
  if (!IsSeconds(record.totalSeconds) ||
      (record.writingSeconds && !IsSeconds(*record.writingSeconds))) {
    return "a duration is not a number of seconds";
  }
  return {};
}

std::string StoredText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    if (bytes[i] == '\\') {
      text += "\\\\";
      ++i;
      continue;
    }
    if (const size_t length = platform::Utf8SequenceLength(bytes, i); length > 0) {
      text.append(bytes.substr(i, length));
      i += length;
      continue;
    }
    const auto byte = static_cast<uint8_t>(bytes[i++]);
    text += "\\x";
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
}

std::string RecordJson(const HistoryRecord& record) {
  Json line;
  line["schema"] = 1;
  line["record"] = "update";
  line["time_utc"] = record.timeUtc;
  line["program_version"] = record.programVersion;
  line["printer"]["serial"] = StoredText(record.serial);
  line["printer"]["port_path"] = StoredText(record.portPath);
  line["package"]["file"] = StoredText(record.packageFile);
  line["package"]["sha256"] = record.packageSha256 ? Json(*record.packageSha256) : Json(nullptr);
  line["package"]["version"] = StoredText(record.packageVersion);
  line["status"] = record.status;
  line["exit_status"] = record.exitStatus;
  if (record.message) line["message"] = StoredText(*record.message);
  line["durations"]["total"] = Milliseconds(record.totalSeconds);
  line["durations"]["writing"] =
      record.writingSeconds ? Json(Milliseconds(*record.writingSeconds)) : Json(nullptr);
  // Every text is valid UTF-8 by now; strict, so that one that is not cannot go unseen.
  return line.dump(-1, ' ', false, Json::error_handler_t::strict);
}

ParsedRecord ParseRecordJson(std::string_view text) {
  try {
    const Json line = Json::parse(text, nullptr, false);
    if (line.is_discarded()) return {std::nullopt, "not JSON"};
    if (!line.is_object()) return {std::nullopt, "not a JSON object"};
    Reader read;
    HistoryRecord record = ReadMembers(line, read);
    if (!read.Problem().empty()) return {std::nullopt, read.Problem()};
    return {std::move(record), ""};
  } catch (const std::exception& error) {  // nothing above should throw; a line never stops a read
    return {std::nullopt, std::string("unreadable: ") + error.what()};
  }
}

}  // namespace history
