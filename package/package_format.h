// Layout of an update package file (".fwp"): a 2048-byte header, then item records
// back to back. All integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fwp {

inline constexpr size_t kHeaderSize = 2048;

inline constexpr std::string_view kMagic = "OP FILE 1.00";
inline constexpr size_t kMagicOffset = 0;
inline constexpr size_t kMagicSize = 32;
inline constexpr size_t kPackModeOffset = 32;  // signed byte
inline constexpr size_t kPrinterNameOffset = 33;
inline constexpr size_t kPrinterNameSize = 32;
inline constexpr size_t kVersionLabelOffset = 65;
inline constexpr size_t kVersionLabelSize = 512;
inline constexpr size_t kPackageKindOffset = 577;
inline constexpr size_t kPackageKindSize = 1024;

inline constexpr int8_t kPackStored = 0;
inline constexpr int8_t kPackPacked = 1;

// Record: RecordSize(4), then TypeLength(4) Type, CommandsLength(4) Commands,
// ModeLength(4) Mode, FileNameLength(4) FileName, three 8-byte file times, then the
// item data. RecordSize counts everything after itself.
inline constexpr size_t kRecordFixedSize = 4 * 4 + 3 * 8;

// Packed item data: 4 reserved bytes, the unpacked length U (4), then the bit stream.
inline constexpr size_t kPackedPrefixSize = 8;

// What the header names for a package an update takes: the printer family it was made
// for and the kind of package.
inline constexpr char kPrinterFamily[] = "VRQPrinter";
inline constexpr char kUpdateKind[] = "Update";

// The item types the update uses: the firmware program, then the flash sections. Items of
// other types are extracted and left unused.
inline constexpr char kFirmwareType[] = "frw";
inline constexpr char kBootloaderType[] = "bootloader";
inline constexpr char kSystemType[] = "system";
inline constexpr char kFontType[] = "font";
inline constexpr std::string_view kItemTypes[] = {kFirmwareType, kBootloaderType, kSystemType,
                                                  kFontType};

// What distributed packages carry behind their last record.
inline constexpr size_t kEndMarkerSize = 4;

// The magic test: "OP FILE 1.00" followed by a zero byte at the start of data.
bool HasMagic(const uint8_t* data, int64_t size);

inline void PutLE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline uint32_t GetLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void PutLE64(unsigned char* p, uint64_t v) {
  PutLE32(p, static_cast<uint32_t>(v));
  PutLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline uint64_t GetLE64(const unsigned char* p) {
  return static_cast<uint64_t>(GetLE32(p)) | static_cast<uint64_t>(GetLE32(p + 4)) << 32;
}

}  // namespace fwp
