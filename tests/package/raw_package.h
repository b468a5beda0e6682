// Builds package bytes by hand, including damaged ones, for the reader's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "package/package_format.h"

namespace rawpkg {

inline std::string LE32(uint32_t v) {
  std::string s(4, '\0');
  fwp::PutLE32(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}

inline std::string LE64(uint64_t v) {
  std::string s(8, '\0');
  fwp::PutLE64(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}

inline std::string Header(int8_t packMode = 0, const std::string& printer = "VRQPrinter",
                          const std::string& kind = "Update", const std::string& label = "1.0") {
  std::string h(fwp::kHeaderSize, '\0');
  std::memcpy(h.data(), fwp::kMagic.data(), fwp::kMagic.size());
  h[fwp::kPackModeOffset] = static_cast<char>(packMode);
  h.replace(fwp::kPrinterNameOffset, printer.size(), printer);
  h.replace(fwp::kVersionLabelOffset, label.size(), label);
  h.replace(fwp::kPackageKindOffset, kind.size(), kind);
  return h;
}

struct Item {
  std::string type = "system";
  std::string commands;
  std::string mode;
  std::string name = "item.bin";
  std::string data;  // exactly the record's data bytes (stored, or packed with Packed())
  uint64_t creation = 133'000'000'000'000'000ull;
  uint64_t access = 133'100'000'000'000'000ull;
  uint64_t write = 133'200'000'000'000'000ull;
};

inline std::string Text(const std::string& t) {
  return LE32(static_cast<uint32_t>(t.size())) + t;
}

inline std::string Record(const Item& item) {
  std::string body = Text(item.type) + Text(item.commands) + Text(item.mode) + Text(item.name) +
                     LE64(item.creation) + LE64(item.access) + LE64(item.write) + item.data;
  return LE32(static_cast<uint32_t>(body.size())) + body;
}

// Packed item data that spells every byte as a literal token.
inline std::string Packed(const std::string& plain, uint32_t claimedLength) {
  std::string coded;
  int64_t bits = 0;
  auto put = [&](uint32_t value, int count) {
    for (int i = 0; i < count; ++i, ++bits) {
      if (bits % 8 == 0) coded.push_back('\0');
      coded.back() = static_cast<char>(coded.back() | (((value >> i) & 1) << (bits % 8)));
    }
  };
  for (unsigned char c : plain) {
    put(0, 1);
    put(c, 8);
  }
  return LE32(0) + LE32(claimedLength) + coded;
}

inline std::string Packed(const std::string& plain) {
  return Packed(plain, static_cast<uint32_t>(plain.size()));
}

inline void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace rawpkg
