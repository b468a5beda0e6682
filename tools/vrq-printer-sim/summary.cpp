#include "tools/vrq-printer-sim/summary.h"

#include <cstdio>
#include <fstream>

namespace sim {

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Milliseconds with a tenth, or null when unknown.
std::string Milliseconds(double ms) {
  if (ms < 0) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

std::string PrinterJson(const SummaryEntry& entry) {
  const PrinterSummary& s = entry.summary;
  uint64_t lost = 0;
  std::string losses;
  for (const PrinterSummary::Loss& loss : s.losses) {
    lost += loss.bytes;
    if (!losses.empty()) losses += ", ";
    losses += "{\"bytes\": " + std::to_string(loss.bytes) +
              ", \"after\": " + (loss.after.empty() ? "null" : Quoted(loss.after)) +
              ", \"closed_after_ms\": " + Milliseconds(loss.closedAfterMs) + "}";
  }
  std::string json = "    {\n";
  json += "      \"port\": " + Quoted(entry.port) + ",\n";
  json += "      \"modelled\": " + std::string(s.modelled ? "true" : "false") + ",\n";
  json += "      \"rate\": " + std::to_string(entry.rate) + ",\n";
  json += "      \"bytes_taken\": " + std::to_string(s.bytesTaken) + ",\n";
  json += "      \"bytes_lost_at_close\": " + std::to_string(lost) + ",\n";
  json += "      \"losses\": [" + losses + "],\n";
  json +=
      "      \"firmware_started\": " + std::string(s.firmwareStarted ? "true" : "false") + ",\n";
  json +=
      "      \"image_submitted_to_close_ms\": " + Milliseconds(s.imageSubmittedToCloseMs) + ",\n";
  json += "      \"image_taken_to_close_ms\": " + Milliseconds(s.imageTakenToCloseMs) + ",\n";
  json += "      \"violations\": " + std::to_string(entry.violations) + "\n";
  return json + "    }";
}

}  // namespace

std::string SummaryJson(const std::vector<SummaryEntry>& printers, double commandSeconds) {
  std::string json = "{\n  \"command_seconds\": ";
  if (commandSeconds < 0) {
    json += "null";
  } else {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", commandSeconds);
    json += seconds;
  }
  json += ",\n  \"printers\": [\n";
  for (size_t i = 0; i < printers.size(); ++i)
    json += PrinterJson(printers[i]) + (i + 1 < printers.size() ? ",\n" : "\n");
  return json + "  ]\n}\n";
}

bool WriteSummary(const std::string& path, const std::vector<SummaryEntry>& printers,
                  double commandSeconds, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << SummaryJson(printers, commandSeconds);
  out.close();
  if (out) return true;
  error = "cannot write " + path;
  return false;
}

}  // namespace sim
