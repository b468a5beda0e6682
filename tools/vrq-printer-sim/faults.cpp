#include "tools/vrq-printer-sim/faults.h"

#include <cstdlib>

namespace sim {

namespace {

// What follows a fault's name after a colon.
enum class Argument {
  kNone,
  kBlock,     // K or SECTION:K
  kMs,        // milliseconds
  kPortPath,  // a printer's USB port path
  kDriver,    // a kernel driver's name, or "none"
  kProgram,   // a program's name
};

struct NamedFault {
  const char* name;
  FaultKind kind;
  Argument argument;
};

constexpr NamedFault kFaults[] = {
    {"no-connect-reply", FaultKind::kNoConnectReply, Argument::kNone},
    {"never-return", FaultKind::kNeverReturn, Argument::kNone},
    {"no-send-next", FaultKind::kNoSendNext, Argument::kNone},
    {"no-mac", FaultKind::kNoMac, Argument::kNone},
    {"block-error", FaultKind::kBlockError, Argument::kBlock},
    {"block-silent", FaultKind::kBlockSilent, Argument::kBlock},
    {"unplug-block", FaultKind::kUnplugBlock, Argument::kBlock},
    {"stall-block", FaultKind::kStallBlock, Argument::kBlock},
    {"no-link-reply", FaultKind::kNoLinkReply, Argument::kNone},
    {"garbage", FaultKind::kGarbage, Argument::kNone},
    {"no-serial", FaultKind::kNoSerial, Argument::kNone},
    {"restart-at", FaultKind::kRestartAt, Argument::kMs},
    {"restart-with", FaultKind::kRestartWith, Argument::kPortPath},
    {"bound-to", FaultKind::kBoundTo, Argument::kDriver},
    {"claimed", FaultKind::kClaimed, Argument::kProgram},
};

// The longest program name the kernel keeps as a process's name (comm).
constexpr size_t kProgramNameLimit = 15;

bool AllOf(const std::string& text, const char* allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

// A decimal number from 1 (from 0 when zeroAllowed), at most nine digits.
bool ParseCount(const std::string& text, bool zeroAllowed, int64_t& number) {
  if (text.size() > 9 || !AllOf(text, "0123456789")) return false;
  number = std::atoll(text.c_str());
  return number >= (zeroAllowed ? 0 : 1);
}

bool ParseBlock(const std::string& text, Fault& fault, std::string& error) {
  std::string rest = text;
  size_t colon = rest.find(':');
  if (colon != std::string::npos) {
    fault.section = SectionCode(rest.substr(0, colon));
    if (fault.section < 0) {
      error = "unknown section '" + rest.substr(0, colon) + "' (bootloader, system or font)";
      return false;
    }
    rest = rest.substr(colon + 1);
  }
  int64_t number = 0;
  if (!ParseCount(rest, false, number)) {
    error = "a block number from 1 is needed: K or SECTION:K";
    return false;
  }
  fault.block = static_cast<int>(number);
  return true;
}

bool ParseArgument(Argument argument, const std::string& text, Fault& fault, std::string& error) {
  switch (argument) {
    case Argument::kNone:
      return true;
    case Argument::kBlock:
      return ParseBlock(text, fault, error);
    case Argument::kMs:
      if (ParseCount(text, true, fault.ms)) return true;
      error = "a time in milliseconds is needed";
      return false;
    case Argument::kPortPath:
      if (IsPortPathText(text)) {
        fault.name = text;
        return true;
      }
      error = "a printer's USB port path (such as 1-1.4) is needed";
      return false;
    case Argument::kDriver:
      if (AllOf(text, "abcdefghijklmnopqrstuvwxyz0123456789_-")) {
        fault.name = text == "none" ? "" : text;
        return true;
      }
      error = "a driver name (such as usbfs) or none is needed";
      return false;
    case Argument::kProgram:
      if (!text.empty() && text.size() <= kProgramNameLimit && text != "." && text != ".." &&
          text.find_first_of("/@") == std::string::npos && text.front() != '-') {
        fault.name = text;
        return true;
      }
      error = "a program name of at most 15 characters, without '/', is needed";
      return false;
  }
  return false;
}

// "MS@K", "MS@last", "MS@block-last:K" or "MS@after-link", each optionally followed by
// "@PORT".
std::optional<Fault> ParseNak(const std::string& text, std::string& error) {
  const std::string usage = "fault '" + text +
                            "': nak:MS@K, nak:MS@last, nak:MS@block-last:K or "
                            "nak:MS@after-link is needed, optionally followed by @PORT";
  std::string body = text.size() > 4 ? text.substr(4) : std::string();
  size_t at = body.find('@');
  Fault fault;
  fault.kind = FaultKind::kNak;
  if (at == std::string::npos || !ParseCount(body.substr(0, at), false, fault.ms)) {
    error = usage;
    return std::nullopt;
  }
  std::string selector = body.substr(at + 1);
  if (size_t port = selector.find('@'); port != std::string::npos) {
    fault.printer = selector.substr(port + 1);
    selector = selector.substr(0, port);
    if (!IsPortPathText(fault.printer)) {
      error = "fault '" + text + "': '@' must be followed by a printer's USB port path";
      return std::nullopt;
    }
  }
  int64_t number = 0;
  if (selector == "last") {
    fault.nakAt = NakAt::kImageEnd;
  } else if (selector == "after-link") {
    fault.nakAt = NakAt::kAfterLink;
  } else if (selector.rfind("block-last:", 0) == 0 &&
             ParseCount(selector.substr(11), false, number)) {
    fault.nakAt = NakAt::kBlockEnd;
    fault.block = static_cast<int>(number);
  } else if (ParseCount(selector, false, number)) {
    fault.nakAt = NakAt::kChunk;
    fault.block = static_cast<int>(number);
  } else {
    error = usage;
    return std::nullopt;
  }
  return fault;
}

}  // namespace

bool IsPortPathText(const std::string& text) {
  return AllOf(text, "0123456789.-");
}

int SectionCode(const std::string& type) {
  if (type == "bootloader") return 0;
  if (type == "system") return 3;
  if (type == "font") return 4;
  return -1;
}

const char* SectionType(int code) {
  switch (code) {
    case 0:
      return "bootloader";
    case 3:
      return "system";
    case 4:
      return "font";
    default:
      return nullptr;
  }
}

std::optional<Fault> ParseFault(const std::string& text, std::string& error) {
  if (text == "nak" || text.rfind("nak:", 0) == 0) return ParseNak(text, error);
  std::string body = text;
  std::string printer;
  if (size_t at = text.rfind('@'); at != std::string::npos) {
    body = text.substr(0, at);
    printer = text.substr(at + 1);
    if (!IsPortPathText(printer)) {
      error = "fault '" + text + "': '@' must be followed by a printer's USB port path";
      return std::nullopt;
    }
  }
  size_t colon = body.find(':');
  std::string name = body.substr(0, colon);
  for (const NamedFault& named : kFaults) {
    if (name != named.name) continue;
    Fault fault;
    fault.kind = named.kind;
    fault.printer = printer;
    if (named.argument == Argument::kNone && colon != std::string::npos) {
      error = "fault '" + name + "' takes no argument";
      return std::nullopt;
    }
    if (named.argument != Argument::kNone && colon == std::string::npos) {
      error = "fault '" + text + "' needs an argument: " + name + ":...";
      return std::nullopt;
    }
    std::string argument = colon == std::string::npos ? "" : body.substr(colon + 1);
    if (!ParseArgument(named.argument, argument, fault, error)) {
      error = "fault '" + text + "': " + error;
      return std::nullopt;
    }
    return fault;
  }
  error = "unknown fault '" + text + "'";
  return std::nullopt;
}

std::vector<Fault> FaultsFor(const std::vector<Fault>& faults, const std::string& portPath) {
  std::vector<Fault> chosen;
  for (const Fault& fault : faults) {
    if (fault.printer.empty() || fault.printer == portPath) chosen.push_back(fault);
  }
  return chosen;
}

const Fault* FindFault(const std::vector<Fault>& faults, FaultKind kind) {
  for (const Fault& fault : faults) {
    if (fault.kind == kind) return &fault;
  }
  return nullptr;
}

bool BlockFault(const std::vector<Fault>& faults, FaultKind kind, int sectionCode, int blockInRun,
                int blockInSection) {
  for (const Fault& fault : faults) {
    if (fault.kind != kind) continue;
    if (fault.section < 0 && fault.block == blockInRun) return true;
    if (fault.section == sectionCode && fault.block == blockInSection) return true;
  }
  return false;
}

bool HasFault(const std::vector<Fault>& faults, FaultKind kind) {
  return FindFault(faults, kind) != nullptr;
}

}  // namespace sim
