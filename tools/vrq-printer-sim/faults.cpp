#include "tools/vrq-printer-sim/faults.h"

#include <cstdlib>

namespace sim {

namespace {

struct NamedFault {
  const char* name;
  FaultKind kind;
  bool takesBlock;
};

constexpr NamedFault kFaults[] = {
    {"no-connect-reply", FaultKind::kNoConnectReply, false},
    {"never-return", FaultKind::kNeverReturn, false},
    {"no-send-next", FaultKind::kNoSendNext, false},
    {"no-mac", FaultKind::kNoMac, false},
    {"block-error", FaultKind::kBlockError, true},
    {"block-silent", FaultKind::kBlockSilent, true},
    {"unplug-block", FaultKind::kUnplugBlock, true},
    {"stall-block", FaultKind::kStallBlock, true},
    {"no-link-reply", FaultKind::kNoLinkReply, false},
    {"garbage", FaultKind::kGarbage, false},
};

// A block number: decimal, 1 or more.
bool ParseBlockNumber(const std::string& text, int& number) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  number = std::atoi(text.c_str());
  return number >= 1;
}

}  // namespace

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
  std::string name = text.substr(0, text.find(':'));
  for (const NamedFault& named : kFaults) {
    if (name != named.name) continue;
    Fault fault;
    fault.kind = named.kind;
    if (!named.takesBlock) {
      if (name == text) return fault;
      error = "fault '" + name + "' takes no block number";
      return std::nullopt;
    }
    std::string rest = name.size() < text.size() ? text.substr(name.size() + 1) : "";
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
      fault.section = SectionCode(rest.substr(0, colon));
      if (fault.section < 0) {
        error = "unknown section '" + rest.substr(0, colon) + "' in '" + text +
                "' (bootloader, system or font)";
        return std::nullopt;
      }
      rest = rest.substr(colon + 1);
    }
    if (!ParseBlockNumber(rest, fault.block)) {
      error = "fault '" + text + "' needs a block number from 1: " + name + ":K or " + name +
              ":SECTION:K";
      return std::nullopt;
    }
    return fault;
  }
  error = "unknown fault '" + text + "'";
  return std::nullopt;
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
  for (const Fault& fault : faults) {
    if (fault.kind == kind) return true;
  }
  return false;
}

}  // namespace sim
