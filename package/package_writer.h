// Writes update package files the way distributed ones look: the 2048-byte header, one
// record per item, and four zero bytes behind the last record. Items are stored as is
// or packed with the window encoder, as the header's pack mode says.
//
// Only fwp-tool, the tests, the fuzz seeds and the benchmarks use it; the updater reads
// packages and never writes one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "platform/file.h"

namespace fwp {

struct PackageHeaderFields {
  std::string magic{kMagic};
  int8_t packMode = kPackStored;  // kPackStored, kPackPacked, or any raw value
  std::string printerName = kPrinterFamily;
  std::string versionLabel;
  std::string packageKind = kUpdateKind;
};

struct ItemFields {
  std::string type;
  std::string commands;
  std::string mode;
  std::string fileName;
  uint64_t creationTime = 0;  // 100 ns ticks since 1601 (UTC)
  uint64_t lastAccessTime = 0;
  uint64_t lastWriteTime = 0;
};

using HeaderBytes = std::array<uint8_t, kHeaderSize>;

// The header image; texts longer than their field are cut to it.
HeaderBytes MakeHeader(const PackageHeaderFields& fields);

// Record fields and the item data as the package holds them: raw for every pack mode
// but kPackPacked, which gets the reserved word, U and the window-codec stream.
std::vector<uint8_t> ItemDataFor(int8_t packMode, const uint8_t* data, size_t size);

// RecordSize and the fields up to the three file times, for dataLength bytes of item
// data. Empty when the record would not fit the 32-bit RecordSize.
std::vector<uint8_t> RecordPrefix(const ItemFields& item, uint64_t dataLength);

class PackageWriter {
 public:
  // Creates (or truncates) path and writes the header; Ok() tells whether it worked.
  PackageWriter(const std::string& path, const PackageHeaderFields& header);

  bool Ok() const { return error_.empty(); }
  // What went wrong first, for a message to the user; empty while all is well.
  const std::string& Error() const { return error_; }

  // Appends one record with data in memory.
  bool AddItem(const ItemFields& item, const uint8_t* data, size_t size);
  // Appends one record with the contents of source. Stored items are copied in chunks
  // of 64 KiB; packed items are read whole, as the encoder needs them.
  bool AddItemFromFile(const ItemFields& item, const std::string& source);
  // Writes the end marker (four zero bytes) when asked to and closes the file.
  bool Finish(bool endMarker = true);

 private:
  bool Fail(const std::string& message);
  bool WriteBytes(const void* data, size_t size);
  bool CopyStored(const ItemFields& item, platform::File& source, int64_t size,
                  const std::string& sourcePath);

  std::string path_;
  int8_t packMode_;
  platform::File file_;
  std::string error_;
};

struct ItemImage {
  ItemFields fields;
  std::vector<uint8_t> data;
};

// A whole package in memory, for tests and fuzz seeds.
std::vector<uint8_t> PackageImage(const PackageHeaderFields& header,
                                  const std::vector<ItemImage>& items, bool endMarker = true);

}  // namespace fwp
