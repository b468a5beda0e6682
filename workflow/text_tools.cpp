#include "workflow/text_tools.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

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
  // A cell's width is its number of characters: UTF-8 continuation bytes take no column.
  const auto width = [](const std::string& cell) {
    return static_cast<size_t>(std::count_if(
        cell.begin(), cell.end(), [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }));
  };
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size());
    for (size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], width(row[i]));
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - width(row[i]) + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

std::string ByteToHex(uint8_t value) {
  return {kHexDigits[value >> 4], kHexDigits[value & 15]};
}

std::string OneLine(const std::string& text) {
  std::string line = text;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
    line.pop_back();
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') continue;
    out.push_back(line[i] == '\r' || line[i] == '\n' ? ' ' : line[i]);
  }
  return out;
}

std::string Escaped(std::string_view text, Escape) {
  std::string out;
  for (char c : text) {
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

std::string Duration(uint64_t ms) {
  const uint64_t seconds = (ms + 999) / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

std::string SecondsText(uint64_t ms) {
  return std::to_string(ms / 1000) + " s";
}

}  // namespace app
