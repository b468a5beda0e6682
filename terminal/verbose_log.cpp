#include "terminal/verbose_log.h"

#include <cstdio>

#include "workflow/text_tools.h"

namespace app {

VerboseLog::VerboseLog(Clock& clock, std::function<void(const std::string&)> sink)
    : clock_(clock), sink_(std::move(sink)), startMs_(clock.NowMs()) {}

void VerboseLog::Sent(std::string_view line, int32_t result) {
  std::string text = Escaped(line, Escape::kAllButPrintableAscii);
  if (result != static_cast<int32_t>(line.size())) {
    text += result < 0 ? "  (not written: the printer is gone or not open)"
                       : "  (written in part: " + std::to_string(result) + " bytes)";
  }
  Line("->", text);
}

void VerboseLog::Received(std::string_view bytes) {
  Line("<-", Escaped(bytes, Escape::kAllButPrintableAscii));
}

void VerboseLog::Note(const std::string& text) {
  Line("--", Escaped(text, Escape::kAllButPrintableAscii));
}

void VerboseLog::Line(std::string_view mark, const std::string& text) {
  const uint64_t ms = clock_.NowMs() - startMs_;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%5llu.%03llu] ", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  sink_(stamp + std::string(mark) + " " + text);
}

}  // namespace app
