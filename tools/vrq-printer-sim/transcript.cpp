#include "tools/vrq-printer-sim/transcript.h"

namespace sim {

bool Transcript::AttachFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  files_.emplace_back(file);
  return true;
}

std::string Transcript::Escape(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    }
  }
  return out;
}

void Transcript::AddCommand(const std::string& line) {
  Add(Escape(line));
}

void Transcript::AddViolation(const std::string& text) {
  ++violations_;
  Add(kViolationPrefix + Escape(text));
}

void Transcript::Add(const std::string& line) {
  lines_.push_back(line);
  for (auto& file : files_) {
    std::fputs(line.c_str(), file.get());
    std::fputc('\n', file.get());
    std::fflush(file.get());
  }
}

}  // namespace sim
