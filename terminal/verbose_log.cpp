#include "terminal/verbose_log.h"

#include <cstdio>

#include "workflow/printer_vocabulary.h"

namespace app {

std::string Visible(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7F) {
      out += "\\x" + ByteToHex(byte);
    } else {
      out += c;
    }
  }
  return out;
}

VerboseLog::VerboseLog(Clock& clock, std::function<void(const std::string&)> sink)
    : clock_(clock), sink_(std::move(sink)), startMs_(clock.NowMs()) {}

void VerboseLog::Sent(std::string_view line, int32_t result) {
  std::string text = Visible(line);
  if (result != static_cast<int32_t>(line.size())) {
    text += result < 0 ? "  (not written: the printer is gone or not open)"
                       : "  (written in part: " + std::to_string(result) + " bytes)";
  }
  Line("->", text);
}

void VerboseLog::Received(std::string_view bytes) {
  Line("<-", Visible(bytes));
}

void VerboseLog::Note(const std::string& text) {
  Line("--", Visible(text));
}

void VerboseLog::Line(std::string_view mark, const std::string& text) {
  const uint64_t ms = clock_.NowMs() - startMs_;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%5llu.%03llu] ", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  sink_(stamp + std::string(mark) + " " + text);
}

}  // namespace app
