// The printer dialogue in one place, as a driver's request table: every command line an
// update sends, the reply it waits for and how long, the flash sections, the firmware
// image's limit, the pacing of the flash data and the caps on what a reply may hold.
// Nothing here talks to the printer; the session and the steps put these on the wire.
//
//   step            sends                                 then waits for (at most)
//   connect         the firmware item's first line        10 ms, "Connect Success!" (3 s)
//                   its second line                       -
//   firmware image  "DF 0 536870912 SIZE SUM", the image  - (an image of up to 1 MiB)
//   restart         - (the port closes)                   5 s asleep; the printer, 80
//                                                         looks 500 ms apart; "Please
//                                                         send next!" (20 s)
//   MAC check       "CKID" (after 500 ms asleep)          "OK" (20 s without data)
//   each section    "BUZZER TP=1"                         -
//   each block      "SETIT TP=..,ADD=..,LEN=..,CK=..,MD=.."
//                   the block as hex text, in pieces of   10 ms after each piece, then
//                   1,024 characters                      "OK" (60 s)
//   end             "LINK" (after 500 ms asleep)          any reply (20 s without data)
//                   "BUZZER TP=2" (a reply came) or "BUZZER TP=3" (none)
//   no MAC address  "LED TP=6"
//
// Every command line ends in CR LF. A wait that pumps the window counts ticks of the
// 10 ms timer; "asleep" is a plain sleep that handles no event (workflow/README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/package_format.h"

namespace app {

// Every wait of the dialogue, in milliseconds.
namespace wait {
inline constexpr uint32_t kAfterConnectMs = 10;     // a Delay after the connect line
inline constexpr uint32_t kConnectMs = 3000;        // for "Connect Success!"
inline constexpr uint32_t kFirmwareStartMs = 5000;  // asleep while the printer starts the image
inline constexpr int kReconnectAttempts = 80;       // looks for the printer after its restart,
inline constexpr uint32_t kReconnectDelayMs = 500;  // this long apart
inline constexpr uint32_t kSendNextMs = 20000;      // for "Please send next!"
inline constexpr uint32_t kSettleMs = 500;          // asleep before "CKID" and before "LINK"
inline constexpr uint32_t kBlockReplyMs = 60000;    // for a block's "OK": the longest wait
inline constexpr int32_t kReplyIdleMs = 20000;      // for "CKID"'s and "LINK"'s reply, without data
}  // namespace wait

// The flash data's pacing: a Delay after every piece of a block's hex text.
namespace pacing {
inline constexpr int64_t kPieceChars = 1024;   // hex text characters per write
inline constexpr uint32_t kPieceDelayMs = 10;  // the Delay after each piece...
inline constexpr uint64_t kPieceMs = 20;       // ...lasts two ticks
}  // namespace pacing

// Replies, compared after TrimReply, and what a reply may hold.
namespace reply {
inline constexpr char kConnectSuccess[] = "Connect Success!";
inline constexpr char kSendNext[] = "Please send next!";
inline constexpr char kOk[] = "OK";
// The one complete line that does not stop the sending of a block's hex text.
inline constexpr char kOkLine[] = "OK\r\n";
// The reply to "CKID" or "LINK" is read up to a line break into 1,023 bytes; more is no
// reply.
inline constexpr int32_t kDirectCapacity = 1023;
// The timer gathers at most this much of a reply per tick...
inline constexpr int32_t kPumpChunk = 1024;
// ...and a direct read at most this much per look at the port.
inline constexpr int32_t kReadChunk = 32768;
}  // namespace reply

// The firmware loader's buffer: the largest image the printer takes.
inline constexpr int64_t kImageLimit = 1048576;

// The flash sections: the item type written to each, the TP of its "SETIT" lines and the
// bytes per block.
struct FlashSection {
  const char* type;
  int code;
  int64_t blockSize;
};
inline constexpr FlashSection kSections[] = {
    {fwp::kBootloaderType, 0, 2097152},
    {fwp::kSystemType, 3, 1048576},
    {fwp::kFontType, 4, 131072},
};
// The section that items of this type are written to; nullptr for any other type.
const FlashSection* SectionFor(std::string_view type);

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

// Every byte as two upper-case hex digits, with "\r\n" after each byte whose 1-based
// position is a multiple of bytesPerLine (bytesPerLine <= 0 gives no line breaks).
std::string BytesToHexText(const uint8_t* data, int32_t length, int32_t bytesPerLine);

// Sum of the bytes taken as unsigned 8-bit values: the CK of a block, the sum of an image.
int64_t ByteSum(const uint8_t* data, size_t length);

// A reply without leading and trailing blanks and control characters (bytes up to 0x20).
std::string TrimReply(std::string_view text);

// True when text holds a complete reply line: its first CR LF has at least one
// character before it.
bool HasCompleteLine(std::string_view text);

}  // namespace app
