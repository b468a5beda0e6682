// The printer's side of the wire: every command line the dialogue sends, the replies it
// waits for, the hex text that carries flash data, and the sums the printer checks.
// Nothing here talks to the printer; the session and the steps put these on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace app {

// Replies, compared after TrimReply.
namespace reply {
inline constexpr char kConnectSuccess[] = "Connect Success!";
inline constexpr char kSendNext[] = "Please send next!";
inline constexpr char kOk[] = "OK";
// The one complete line that does not stop the sending of a block's hex text.
inline constexpr char kOkLine[] = "OK\r\n";
}  // namespace reply

// The buzzer's and the LED's codes; what they sound or show is the printer's business.
enum class Buzzer { kSectionStart = 1, kUpdateDone = 2, kNoLinkReply = 3 };
enum class Led { kNoMacAddress = 6 };

// Command lines, each ended by CR LF.
std::string CkidCommand();  // "CKID": does the printer have a MAC address?
std::string LinkCommand();  // "LINK": the update is complete
std::string BuzzerCommand(Buzzer code);
std::string LedCommand(Led code);
// Line index (0: the connect request, 1: the second line) of the firmware item's own
// command text, as stored, blanks kept.
std::string FirmwareItemCommand(std::string_view commands, int32_t index);
// Announces a firmware image of size bytes whose byte sum is sum.
std::string DfCommand(int64_t size, int64_t sum);
// Announces one flash block: section code, offset in the section, length, byte sum and
// the firmware item's mode.
std::string SetitCommand(int sectionCode, int64_t offset, int64_t length, int64_t sum,
                         int32_t mode);

// Flash data goes out as hex text with a line break after every 32nd byte.
inline constexpr int32_t kHexBytesPerLine = 32;

// Two upper-case hex digits, high nibble first.
std::string ByteToHex(uint8_t value);

// Every byte as ByteToHex, with "\r\n" after each byte whose 1-based position is a
// multiple of bytesPerLine (bytesPerLine <= 0 gives no line breaks).
std::string BytesToHexText(const uint8_t* data, int32_t length, int32_t bytesPerLine);

// Sum of the bytes taken as unsigned 8-bit values: the CK of a block, the sum of an image.
int64_t ByteSum(const uint8_t* data, size_t length);

// A reply without leading and trailing blanks and control characters (bytes up to 0x20).
std::string TrimReply(std::string_view text);

// True when text holds a complete reply line: its first CR LF has at least one
// character before it.
bool HasCompleteLine(std::string_view text);

}  // namespace app
