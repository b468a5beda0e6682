#include "workflow/text_tools.h"

#include <algorithm>
#include <charconv>

namespace app {

std::string TextLine(std::string_view text, int32_t index) {
  if (index < 0) return {};
  size_t pos = 0;
  for (int32_t line = 0; pos < text.size(); ++line) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    if (line == index) return std::string(text.substr(pos, end - pos));
    pos = end;
    if (pos < text.size() && text[pos] == '\r') {
      ++pos;
      if (pos < text.size() && text[pos] == '\n') ++pos;
    } else if (pos < text.size()) {
      ++pos;
    }
  }
  return {};
}

int32_t DecimalOrDefault(std::string_view text, int32_t fallback) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ')
    ++pos;
  text.remove_prefix(pos);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return fallback;
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (error != std::errc() || end != text.data() + text.size()) return fallback;
  return value;
}

std::string ReplaceExtension(const std::string& path, const std::string& newSuffix) {
  size_t nameStart = path.rfind('/');
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return path + newSuffix;
  return path.substr(0, dot) + newSuffix;
}

std::string BaseNameWithoutExtension(const std::string& path) {
  size_t nameStart = path.rfind('/');
  std::string name = nameStart == std::string::npos ? path : path.substr(nameStart + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size());
    for (size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

}  // namespace app
