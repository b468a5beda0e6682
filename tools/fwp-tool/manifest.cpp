#include "tools/fwp-tool/manifest.h"

#include <charconv>
#include <chrono>
#include <cstdio>

#include "package/text.h"

namespace fwptool {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;
constexpr std::chrono::sys_days kEpoch1601{std::chrono::year{1601} / 1 / 1};

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Value of a key: blanks around it are gone already; one pair of double quotes keeps
// blanks at its ends.
std::string Unquote(const std::string& value) {
  return fwp::Unquote(value, "\"");
}

struct ManifestReader {
  const std::string& baseFolder;
  BuildPlan& plan;
  std::string& error;
  int line = 0;
  bool inItem = false;

  bool Fail(const std::string& message) {
    error = std::to_string(line) + ": " + message;
    return false;
  }

  bool Text(const std::string& value, std::string& out) {
    if (!Unescape(Unquote(value), out)) return Fail("bad escape in \"" + value + "\"");
    return true;
  }

  bool Time(const std::string& value, std::optional<uint64_t>& out) {
    out = ParseFileTime(value);
    if (!out) return Fail("bad time \"" + value + "\" (ticks or YYYY-MM-DDTHH:MM:SSZ)");
    return true;
  }

  bool HeaderKey(const std::string& key, const std::string& value) {
    fwp::PackageHeaderFields& h = plan.header;
    if (key == "printer") return Text(value, h.printerName);
    if (key == "kind") return Text(value, h.packageKind);
    if (key == "version") return Text(value, h.versionLabel);
    if (key == "magic") return Text(value, h.magic);
    if (key == "pack") {
      std::optional<int8_t> mode = ParsePackMode(Unquote(value));
      if (!mode) return Fail("pack must be packed, stored or a number from -128 to 127");
      h.packMode = *mode;
      return true;
    }
    return Fail("unknown key \"" + key + "\" outside an [item]");
  }

  bool ItemKey(const std::string& key, const std::string& value, bool append) {
    ItemPlan& item = plan.items.back();
    if (append && key != "commands") return Fail("only commands can be continued with +=");
    if (key == "type") {
      item.hasType = true;
      return Text(value, item.fields.type);
    }
    if (key == "mode") return Text(value, item.fields.mode);
    if (key == "name") {
      item.hasName = true;
      return Text(value, item.fields.fileName);
    }
    if (key == "commands") {
      std::string more;
      if (!Text(value, more)) return false;
      item.fields.commands = append ? item.fields.commands + "\r\n" + more : more;
      return true;
    }
    if (key == "file") {
      std::string path = Unquote(value);
      if (path.empty()) return Fail("file needs a path");
      item.source = path.front() == '/' || baseFolder.empty() ? path : baseFolder + path;
      return true;
    }
    if (key == "ctime") return Time(value, item.creationTime);
    if (key == "atime") return Time(value, item.lastAccessTime);
    if (key == "mtime") return Time(value, item.lastWriteTime);
    return Fail("unknown item key \"" + key + "\"");
  }

  bool CheckLastItem() {
    if (!inItem) return true;
    const ItemPlan& item = plan.items.back();
    line = item.line;
    if (!item.hasType) return Fail("[item] without type=");
    if (item.source.empty()) return Fail("[item] without file=");
    return true;
  }

  bool Line(const std::string& raw) {
    std::string text = fwp::TrimBlanks(raw);
    if (text.empty() || text[0] == '#' || text[0] == ';') return true;
    if (text == "[item]") {
      if (!CheckLastItem()) return false;
      plan.items.emplace_back().line = line;
      inItem = true;
      return true;
    }
    if (text == "[package]") return inItem ? Fail("[package] must come before the items") : true;
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return Fail("expected KEY = VALUE");
    bool append = text[eq - 1] == '+';
    std::string key = fwp::TrimBlanks(text.substr(0, append ? eq - 1 : eq));
    std::string value = fwp::TrimBlanks(text.substr(eq + 1));
    return inItem ? ItemKey(key, value, append) : HeaderKey(key, value);
  }
};

}  // namespace

bool ParseManifest(const std::string& text, const std::string& baseFolder, BuildPlan& plan,
                   std::string& error) {
  ManifestReader reader{baseFolder, plan, error};
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++reader.line;
    if (!reader.Line(text.substr(start, end - start))) return false;
    start = end + 1;
  }
  return reader.CheckLastItem();
}

bool ParseItemShortcut(const std::string& text, ItemPlan& item, std::string& error) {
  std::string parts[4];
  size_t start = 0;
  int count = 0;
  for (; count < 4; ++count) {
    size_t colon = count < 3 ? text.find(':', start) : std::string::npos;
    parts[count] = text.substr(start, colon == std::string::npos ? colon : colon - start);
    if (colon == std::string::npos) {
      ++count;
      break;
    }
    start = colon + 1;
  }
  if (count < 2 || parts[1].empty()) {
    error = "--item wants TYPE:FILE[:MODE[:COMMANDS]], not \"" + text + "\"";
    return false;
  }
  item.fields.type = parts[0];
  item.source = parts[1];
  item.fields.mode = parts[2];
  if (!Unescape(parts[3], item.fields.commands)) {
    error = "bad escape in --item commands \"" + parts[3] + "\"";
    return false;
  }
  return true;
}

bool Unescape(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'x': {
        int high = i + 1 < text.size() ? fwp::HexDigitValue(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? fwp::HexDigitValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

std::string Escape(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out += ch;
        } else {
          out += "\\x";
          out += kDigits[c >> 4];
          out += kDigits[c & 15];
        }
    }
  }
  return out;
}

std::optional<uint64_t> ParseFileTime(const std::string& raw) {
  std::string text = Unquote(fwp::TrimBlanks(raw));
  uint64_t ticks = 0;
  if (ParseNumber(text, ticks)) return ticks;
  // YYYY-MM-DD[THH:MM:SS[.fraction]][Z]
  if (!text.empty() && text.back() == 'Z') text.pop_back();
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  if (!ParseNumber(std::string_view(text).substr(0, 4), year) ||
      !ParseNumber(std::string_view(text).substr(5, 2), month) ||
      !ParseNumber(std::string_view(text).substr(8, 2), day)) {
    return std::nullopt;
  }
  uint64_t fraction = 0;
  if (text.size() > 10) {
    if (text.size() < 19 || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
        text[16] != ':' || !ParseNumber(std::string_view(text).substr(11, 2), hour) ||
        !ParseNumber(std::string_view(text).substr(14, 2), minute) ||
        !ParseNumber(std::string_view(text).substr(17, 2), second) || hour > 23 || minute > 59 ||
        second > 59) {
      return std::nullopt;
    }
    if (text.size() > 19) {
      std::string digits = text.substr(20);
      if (text[19] != '.' || digits.empty() || digits.size() > 7) return std::nullopt;
      if (!ParseNumber(digits, fraction)) return std::nullopt;
      for (size_t i = digits.size(); i < 7; ++i)
        fraction *= 10;
    }
  }
  const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                                         std::chrono::day{day}};
  if (!date.ok() || year < 1601) return std::nullopt;
  const auto days = static_cast<uint64_t>((std::chrono::sys_days{date} - kEpoch1601).count());
  return days * kTicksPerDay + (hour * 3600ull + minute * 60ull + second) * kTicksPerSecond +
         fraction;
}

std::string FormatFileTime(uint64_t ticks) {
  const uint64_t days = ticks / kTicksPerDay;
  const std::chrono::year_month_day date{kEpoch1601 + std::chrono::days{days}};
  if (days > 3'000'000 || static_cast<int>(date.year()) > 9999) return std::to_string(ticks);
  uint64_t rest = ticks % kTicksPerDay;
  const uint64_t fraction = rest % kTicksPerSecond;
  rest /= kTicksPerSecond;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%07uZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<unsigned>(rest / 3600),
                static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60),
                static_cast<unsigned>(fraction));
  return text;
}

std::optional<int8_t> ParsePackMode(const std::string& text) {
  if (text == "packed") return fwp::kPackPacked;
  if (text == "stored") return fwp::kPackStored;
  int value = 0;
  if (!ParseNumber(text, value) || value < -128 || value > 127) return std::nullopt;
  return static_cast<int8_t>(value);
}

}  // namespace fwptool
