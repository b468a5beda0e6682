// Reads the structure of a package file without extracting anything: the header fields
// and every record's fields, offsets and lengths. Made for looking at damaged files:
// every length is checked against its record and the file before anything is read,
// texts are read only up to a display limit, and the walk stops at the first fault
// with a description of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fwptool {

struct WalkedRecord {
  int64_t offset = 0;  // of RecordSize
  uint32_t recordSize = 0;
  std::string type, commands, mode, fileName;  // cut to kWalkTextLimit bytes
  bool textCut = false;                        // some text was longer than shown
  uint64_t creationTime = 0, lastAccessTime = 0, lastWriteTime = 0;
  int64_t dataOffset = 0;
  int64_t dataLength = 0;                  // D
  std::optional<uint32_t> unpackedLength;  // U of a packed item, when D holds it
};

enum class WalkEnd {
  kEndMarker,  // a zero RecordSize that ends exactly at the end of the file
  kEndOfFile,  // the last record ends exactly at the end of the file
  kDamaged,    // see problem
  kNoPackage,  // no "OP FILE 1.00" magic
};

struct PackageWalk {
  int64_t fileSize = 0;
  std::string magic, printerName, versionLabel, packageKind;  // up to the first zero
  int8_t packMode = 0;
  bool headerRead = false;  // the magic was found and the header fields are valid
  std::vector<WalkedRecord> records;
  WalkEnd end = WalkEnd::kDamaged;
  int64_t endOffset = 0;  // where the walk stopped
  std::string problem;    // for kDamaged and kNoPackage
};

inline constexpr size_t kWalkTextLimit = 4096;

// Walks the package at path; a file that cannot be opened gives kDamaged with the reason.
PackageWalk WalkPackage(const std::string& path);

}  // namespace fwptool
