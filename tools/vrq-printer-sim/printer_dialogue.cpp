#include "tools/vrq-printer-sim/printer_dialogue.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <utility>

namespace sim {

namespace {

constexpr const char* kConnectReply = "Connect Success!\r\n";
constexpr const char* kSendNextReply = "Please send next!\r\n";
constexpr const char* kOkReply = "OK\r\n";
constexpr const char* kErrorReply = "ERROR\r\n";
constexpr int64_t kDfLoadAddress = 536870912;

// A decimal number as printf "%d" writes it: an optional minus, no leading zeros, and
// within 32 bits. Moves at past it.
bool TakeNumber(const std::string& text, size_t& at, int64_t& value) {
  size_t start = at;
  bool negative = at < text.size() && text[at] == '-';
  if (negative) ++at;
  size_t digits = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - digits < 11)
    ++at;
  size_t count = at - digits;
  if (count == 0 || count > 10 || (count > 1 && text[digits] == '0') ||
      (negative && text[digits] == '0')) {
    at = start;
    return false;
  }
  value = std::stoll(text.substr(digits, count));
  if (negative) value = -value;
  return value >= INT32_MIN && value <= INT32_MAX;
}

// Matches text against literal, number, literal, number, ... with nothing left over.
bool MatchFields(const std::string& text, const std::vector<std::string>& literals,
                 std::vector<int64_t>& values) {
  size_t at = 0;
  values.clear();
  for (const std::string& literal : literals) {
    if (text.compare(at, literal.size(), literal) != 0) return false;
    at += literal.size();
    int64_t value = 0;
    if (!TakeNumber(text, at, value)) return false;
    values.push_back(value);
  }
  return at == text.size();
}

bool AllHexDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  });
}

std::string BlockName(int tp, int64_t add) {
  return "block TP=" + std::to_string(tp) + " ADD=" + std::to_string(add);
}

}  // namespace

int64_t SectionBlockSize(int sectionCode) {
  switch (sectionCode) {
    case 0:
      return 2 << 20;
    case 3:
      return 1 << 20;
    case 4:
      return 128 << 10;
    default:
      return 0;
  }
}

PrinterDialogue::PrinterDialogue(DialogueSettings settings, Transcript& transcript,
                                 FlashStore& flash)
    : settings_(std::move(settings)), transcript_(transcript), flash_(flash) {}

std::vector<TimedReply> PrinterDialogue::TakeReplies() {
  return std::exchange(replies_, {});
}

std::optional<DeviceAction> PrinterDialogue::TakeDeviceAction() {
  return std::exchange(deviceAction_, std::nullopt);
}

void PrinterDialogue::Reply(const std::string& text, int64_t dueMs) {
  if (!Fault(FaultKind::kGarbage)) {
    replies_.push_back({dueMs, text});
    return;
  }
  // Noise of the kind a confused firmware sends, still ended by CR LF so that the host
  // has a whole line to look at.
  static const std::string kNoise[] = {"\xFE\x1B~?#garbage\r\n", "K\x7F\x80\xC3(ok\r\n",
                                       "\x01\x02\x03NO\xFF\r\n"};
  replies_.push_back({dueMs, kNoise[garbageCount_++ % 3]});
}

void PrinterDialogue::Feed(const uint8_t* data, size_t size, int64_t nowMs) {
  if (size > 0) lastByteMs_ = nowMs;
  while (size > 0) {
    size_t used = 0;
    switch (state_) {
      case State::kImage:
        used = ConsumeImage(data, size, nowMs);
        break;
      case State::kBlockData:
        used = ConsumeBlock(data, size, nowMs);
        break;
      case State::kAwaitHost:
        Violation("bytes sent while the printer restarts");
        used = size;
        break;
      case State::kRejected:
      case State::kGone:
      case State::kStalled:
        used = size;
        break;
      default:
        used = ConsumeLine(data, size, nowMs);
        break;
    }
    data += used;
    size -= used;
  }
}

size_t PrinterDialogue::ConsumeLine(const uint8_t* data, size_t size, int64_t nowMs) {
  const uint8_t* end = std::find(data, data + size, '\n');
  bool complete = end != data + size;
  size_t used = (end - data) + (complete ? 1 : 0);
  size_t room = kLineLimit - std::min(kLineLimit, line_.size());
  size_t keep = std::min(room, static_cast<size_t>(end - data));
  line_.append(reinterpret_cast<const char*>(data), keep);
  if (keep < static_cast<size_t>(end - data) && !lineTooLong_) {
    lineTooLong_ = true;
    Violation("a line longer than " + std::to_string(kLineLimit) + " characters");
  }
  if (!complete) return used;

  std::string line = std::move(line_);
  line_.clear();
  bool wasTooLong = std::exchange(lineTooLong_, false);
  if (line.empty() || line.back() != '\r') {
    AddCommand(line);
    Violation("line ended by LF without CR");
    return used;
  }
  line.pop_back();
  if (line.find('\r') != std::string::npos) {
    AddCommand(line);
    Violation("CR inside a line");
    return used;
  }
  if (wasTooLong) return used;
  OnLine(line, nowMs);
  return used;
}

void PrinterDialogue::AddCommand(const std::string& line) {
  transcript_.AddCommand(line);
  lastCommand_ = Transcript::Escape(line);
}

void PrinterDialogue::OnLine(const std::string& line, int64_t nowMs) {
  AddCommand(line);
  switch (state_) {
    case State::kConnect:
      if (!Fault(FaultKind::kNoConnectReply)) Reply(kConnectReply, nowMs);
      state_ = State::kSecondLine;
      break;
    case State::kSecondLine:
      state_ = State::kDfLine;
      break;
    case State::kDfLine:
      OnDfLine(line, nowMs);
      break;
    case State::kAwaitCkid:
      if (line != "CKID") Violation("the first command after the restart is not CKID");
      state_ = State::kCommands;
      OnCommand(line, nowMs);
      break;
    case State::kDone:
      Violation("a command after the dialogue ended");
      break;
    default:
      OnCommand(line, nowMs);
      break;
  }
}

void PrinterDialogue::OnDfLine(const std::string& line, int64_t nowMs) {
  std::vector<int64_t> v;
  if (!MatchFields(line, {"DF ", " ", " ", " "}, v)) {
    Violation("expected \"DF 0 536870912 size sum\"");
    state_ = State::kRejected;
    return;
  }
  imageFaulty_ = false;
  if (v[0] != 0 || v[1] != kDfLoadAddress) {
    Violation("DF line with fields " + std::to_string(v[0]) + " " + std::to_string(v[1]) +
              " instead of 0 536870912");
    imageFaulty_ = true;
  }
  if (v[2] < 0 || v[2] > kImageLimit || v[3] < 0) {
    Violation("DF size " + std::to_string(v[2]) + " or sum " + std::to_string(v[3]) +
              " out of range (size at most 1048576)");
    state_ = State::kRejected;
    return;
  }
  imageSize_ = v[2];
  imageSum_ = v[3];
  image_.clear();
  image_.reserve(imageSize_);
  state_ = State::kImage;
  if (imageSize_ == 0) FinishImage(nowMs);
}

size_t PrinterDialogue::ConsumeImage(const uint8_t* data, size_t size, int64_t nowMs) {
  size_t take = std::min<size_t>(size, imageSize_ - image_.size());
  image_.insert(image_.end(), data, data + take);
  if (static_cast<int64_t>(image_.size()) == imageSize_) FinishImage(nowMs);
  return take;
}

void PrinterDialogue::FinishImage(int64_t nowMs) {
  imageCompletedMs_ = nowMs;
  int64_t sum = 0;
  for (uint8_t b : image_)
    sum += b;
  if (sum != imageSum_) {
    Violation("DF sum " + std::to_string(imageSum_) + " but the image's bytes sum to " +
              std::to_string(sum));
    imageFaulty_ = true;
  }
  flash_.SetFirmware(std::move(image_));
  image_.clear();
  if (imageFaulty_) {
    state_ = State::kRejected;  // a printer does not start a broken image
    return;
  }
  state_ = State::kAwaitHost;
  deviceAction_ = DeviceAction{DeviceChange::kRestart, nowMs + kRestartDelayMs};
}

void PrinterDialogue::HostConnected(int64_t nowMs) {
  if (state_ != State::kAwaitHost) return;
  state_ = State::kAwaitCkid;
  if (!Fault(FaultKind::kNoSendNext)) Reply(kSendNextReply, nowMs + kSendNextDelayMs);
}

void PrinterDialogue::OnCommand(const std::string& line, int64_t nowMs) {
  bool hexLine = AllHexDigits(line);
  if (!hexLine) inDataOutsideBlock_ = false;
  if (line == "CKID") {
    if (macAnswered_) Violation("CKID sent again");
    macAnswered_ = true;
    Reply(Fault(FaultKind::kNoMac) ? kErrorReply : kOkReply, nowMs);
  } else if (line == "BUZZER TP=1") {
    if (linkSent_) Violation("a section after LINK");
    StartSection();
  } else if (line.rfind("SETIT", 0) == 0) {
    OnSetit(line, nowMs);
  } else if (line == "LINK") {
    if (linkSent_) Violation("LINK sent again");
    linkSent_ = true;
    linkAnswered_ = !Fault(FaultKind::kNoLinkReply);
    if (linkAnswered_) Reply(kOkReply, nowMs);
  } else if (line == "BUZZER TP=2" || line == "BUZZER TP=3") {
    bool answered = line == "BUZZER TP=2";
    if (!linkSent_)
      Violation(line + " before LINK");
    else if (answered != linkAnswered_)
      Violation(line + (answered ? " although LINK got no answer" : " although LINK was answered"));
    state_ = State::kDone;
  } else if (line == "LED TP=6") {
    if (!Fault(FaultKind::kNoMac)) Violation("LED TP=6 although CKID was answered OK");
    state_ = State::kDone;
  } else if (hexLine) {
    if (!inDataOutsideBlock_) Violation("hex data outside a block");
    inDataOutsideBlock_ = true;
  } else {
    Violation("unknown command");
  }
}

void PrinterDialogue::StartSection() {
  sectionOpen_ = true;
  sectionTp_ = -1;
  nextAdd_ = 0;
  shortBlockSeen_ = false;
  blockInSection_ = 0;
}

void PrinterDialogue::OnSetit(const std::string& line, int64_t nowMs) {
  std::vector<int64_t> v;
  if (!MatchFields(line, {"SETIT TP=", ",ADD=", ",LEN=", ",CK=", ",MD="}, v)) {
    Violation("expected \"SETIT TP=n,ADD=n,LEN=n,CK=n,MD=n\"");
    Reply(kErrorReply, nowMs + settings_.flashMs);
    return;
  }
  Block block;
  block.tp = static_cast<int>(v[0]);
  block.add = v[1];
  block.len = v[2];
  block.ck = v[3];
  ++blockInRun_;
  ++blockInSection_;
  bool readable = CheckSetit(block);
  if (!mode_) mode_ = v[4];
  if (*mode_ != v[4]) {
    Violation("MD=" + std::to_string(v[4]) +
              " differs from the first block's MD=" + std::to_string(*mode_));
    block.faulty = true;
  }
  if (!readable) {  // no way to tell how much hex text follows
    Reply(kErrorReply, nowMs + settings_.flashMs);
    return;
  }
  const auto& faults = settings_.faults;
  block.answerError =
      BlockFault(faults, FaultKind::kBlockError, block.tp, blockInRun_, blockInSection_);
  block.silent =
      BlockFault(faults, FaultKind::kBlockSilent, block.tp, blockInRun_, blockInSection_);
  block.unplugHalfway =
      BlockFault(faults, FaultKind::kUnplugBlock, block.tp, blockInRun_, blockInSection_);
  block.stallHalfway =
      BlockFault(faults, FaultKind::kStallBlock, block.tp, blockInRun_, blockInSection_);
  block.reader = HexBlockReader(static_cast<uint32_t>(block.len));
  block_ = std::move(block);
  state_ = State::kBlockData;
}

// Checks a SETIT line against its section; false when its LEN leaves the length of
// its hex text unknown.
bool PrinterDialogue::CheckSetit(Block& block) {
  std::string name = BlockName(block.tp, block.add);
  int64_t blockSize = SectionBlockSize(block.tp);
  auto fail = [&](const std::string& text) {
    Violation(name + ": " + text);
    block.faulty = true;
  };
  if (!sectionOpen_) fail("SETIT before BUZZER TP=1");
  if (linkSent_) fail("SETIT after LINK");
  if (blockSize == 0) fail("unknown section code TP=" + std::to_string(block.tp));
  if (sectionTp_ >= 0 && block.tp != sectionTp_)
    fail("section code changes from TP=" + std::to_string(sectionTp_));
  if (block.add != nextAdd_) fail("ADD should be " + std::to_string(nextAdd_));
  if (shortBlockSeen_) fail("follows a block shorter than the section's block size");
  if (block.len < 1 || (blockSize > 0 && block.len > blockSize))
    fail("LEN=" + std::to_string(block.len) + " outside 1.." +
         std::to_string(blockSize > 0 ? blockSize : SectionBlockSize(0)));
  sectionTp_ = block.tp;
  nextAdd_ = block.add + block.len;
  shortBlockSeen_ = blockSize > 0 && block.len < blockSize;
  return block.len >= 1 && block.len <= SectionBlockSize(0);
}

size_t PrinterDialogue::ConsumeBlock(const uint8_t* data, size_t size, int64_t nowMs) {
  HexBlockReader& reader = block_.reader;
  size_t half = (reader.ExpectedChars() + 1) / 2;
  if ((block_.unplugHalfway || block_.stallHalfway) && reader.Received() < half) {
    size_t used = reader.Consume(data, std::min(size, half - reader.Received()));
    if (reader.Received() >= half) {
      if (block_.unplugHalfway) deviceAction_ = DeviceAction{DeviceChange::kUnplug, nowMs};
      state_ = block_.unplugHalfway ? State::kGone : State::kStalled;
    }
    return used;
  }
  size_t used = reader.Consume(data, size);
  if (reader.Complete()) FinishBlock(nowMs);
  return used;
}

void PrinterDialogue::FinishBlock(int64_t nowMs) {
  state_ = State::kCommands;
  const HexBlockReader& reader = block_.reader;
  std::string name = BlockName(block_.tp, block_.add);
  bool good = !block_.faulty;
  if (!reader.Problem().empty()) {
    Violation(name + ": " + reader.Problem());
    good = false;
  }
  if (reader.Problem().empty() && reader.Sum() != block_.ck) {
    Violation(name + ": CK=" + std::to_string(block_.ck) + " but the block's bytes sum to " +
              std::to_string(reader.Sum()));
    good = false;
  }
  if (good && !block_.answerError &&
      !flash_.WriteBlock(block_.tp, static_cast<uint32_t>(block_.add), reader.Bytes())) {
    Violation(name + ": beyond the end of the flash section");
    good = false;
  }
  if (block_.silent) return;
  Reply(good && !block_.answerError ? kOkReply : kErrorReply, nowMs + settings_.flashMs);
}

size_t PrinterDialogue::TakeLimit() const {
  if (!TakesData()) return 0;
  if (state_ == State::kBlockData && (block_.unplugHalfway || block_.stallHalfway)) {
    size_t half = (block_.reader.ExpectedChars() + 1) / 2;
    if (block_.reader.Received() < half) return half - block_.reader.Received();
  }
  return SIZE_MAX;
}

int64_t PrinterDialogue::ImageBytesLeft() const {
  if (state_ != State::kImage) return -1;
  return imageSize_ - static_cast<int64_t>(image_.size());
}

int64_t PrinterDialogue::BlockCharsLeft() const {
  if (state_ != State::kBlockData) return -1;
  return static_cast<int64_t>(block_.reader.ExpectedChars()) -
         static_cast<int64_t>(block_.reader.Received());
}

void PrinterDialogue::Tick(int64_t nowMs) {
  if (nowMs - lastByteMs_ < kDataIdleMs) return;
  if (state_ == State::kBlockData) {
    Violation(BlockName(block_.tp, block_.add) + ": hex text stopped after " +
              std::to_string(block_.reader.Received()) + " of " +
              std::to_string(block_.reader.ExpectedChars()) + " characters");
    state_ = State::kCommands;
    Reply(kErrorReply, nowMs);
  } else if (state_ == State::kImage) {
    Violation("image stopped after " + std::to_string(image_.size()) + " of " +
              std::to_string(imageSize_) + " bytes");
    state_ = State::kRejected;
  }
}

}  // namespace sim
