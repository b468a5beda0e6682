#include "tools/vrq-printer-sim/transcript.h"

namespace sim {

std::shared_ptr<std::FILE> Transcript::OpenShared(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return nullptr;
  return std::shared_ptr<std::FILE>(file, [](std::FILE* f) { std::fclose(f); });
}

bool Transcript::AttachFile(const std::string& path) {
  std::shared_ptr<std::FILE> file = OpenShared(path);
  if (!file) return false;
  AttachShared(std::move(file), std::string());
  return true;
}

void Transcript::AttachShared(std::shared_ptr<std::FILE> file, std::string prefix) {
  files_.push_back({std::move(file), std::move(prefix)});
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
  char stamp[32] = "";
  if (origin_) {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now() - *origin_).count();
    std::snprintf(stamp, sizeof stamp, "%lld.%03lld ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
  }
  for (const Output& output : files_) {
    std::fputs(output.prefix.c_str(), output.file.get());
    std::fputs(stamp, output.file.get());
    std::fputs(line.c_str(), output.file.get());
    std::fputc('\n', output.file.get());
    std::fflush(output.file.get());
  }
}

}  // namespace sim
