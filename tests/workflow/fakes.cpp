#include "fakes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace apptest {

std::vector<app::PrinterInfo> ScriptedPrinter::Discover() {
  ++discoveries;
  std::vector<app::PrinterInfo> found = others;
  if (present && clock_.now >= backAtMs_) {
    found.push_back({1, "04710055", node, "1-1.4", "VRQSIM0001", node.substr(node.rfind('/') + 1)});
  } else {
    lastFailure_ = {app::OpenFailure::Reason::kNoPrinter, 0, "", "", absentDetail};
  }
  return found;
}

bool ScriptedPrinter::Open(const std::string& path) {
  if (open_) return true;
  openedPaths.push_back(path);
  clock_.now += openCostMs;
  if (path != node) return false;
  if (!present || opensFail || clock_.now < backAtMs_) return false;
  if (openFailure && (restarted_ || !failOpensAfterRestart)) {
    lastFailure_ = *openFailure;
    return false;
  }
  lastFailure_ = {};
  ++opens;
  open_ = true;
  openedSinceClose_ = true;
  if (greetOnOpen_) {
    greetOnOpen_ = false;
    Reply(sendNextReply, 100);
  }
  return true;
}

int32_t ScriptedPrinter::Write(const void* data, int32_t length) {
  if (!open_ || writesFail) return -1;
  if (unplugInBlock && state_ == State::kHex && static_cast<int>(blocks.size()) == *unplugInBlock &&
      blocks.back().hex.size() * 2 >= left_) {
    present = false;
    open_ = false;
    return -1;
  }
  if (state_ == State::kImage && left_ == 0) {  // the write of an empty image
    state_ = State::kCommand;
    Restart();
    return length;
  }
  const char* bytes = static_cast<const char*>(data);
  const int32_t taken = takeAtMost ? std::min(length, *takeAtMost) : length;
  for (int32_t i = 0; i < taken; ++i)
    Feed(bytes[i]);
  return taken;
}

int32_t ScriptedPrinter::Read(void* buffer, int32_t length) {
  if (!open_) return -1;
  clock_.now += readCostMs;
  int32_t taken = 0;
  char* out = static_cast<char*>(buffer);
  while (!replies_.empty() && replies_.front().first <= clock_.now && taken < length) {
    std::string& front = replies_.front().second;
    size_t n = std::min(front.size(), static_cast<size_t>(length - taken));
    std::memcpy(out + taken, front.data(), n);
    taken += static_cast<int32_t>(n);
    front.erase(0, n);
    if (front.empty()) replies_.pop_front();
  }
  return taken;
}

void ScriptedPrinter::Reply(const std::string& bytes, uint64_t afterMs) {
  if (!bytes.empty()) replies_.emplace_back(clock_.now + afterMs, bytes);
}

void ScriptedPrinter::Feed(char c) {
  if (state_ == State::kImage || state_ == State::kHex) {
    if (state_ == State::kImage) {
      image.push_back(c);
    } else {
      blocks.back().hex.push_back(c);
    }
    if (--left_ > 0) return;
    if (state_ == State::kImage) {
      Restart();
    } else {
      Reply(blockReply(blocks.back()), blockReplyMs);
    }
    state_ = State::kCommand;
    return;
  }
  pending_.push_back(c);
  if (pending_.size() >= 2 && pending_.compare(pending_.size() - 2, 2, "\r\n") == 0) {
    std::string line = pending_.substr(0, pending_.size() - 2);
    pending_.clear();
    HandleLine(line);
  }
}

// The printer starts the image it received and comes back on the bus later.
void ScriptedPrinter::Restart() {
  open_ = false;
  replies_.clear();
  backAtMs_ = clock_.now + restartMs;
  greetOnOpen_ = true;
  restarted_ = true;
}

void ScriptedPrinter::HandleLine(const std::string& line) {
  lines.push_back(line);
  if (onLine) onLine(line);
  int size = 0, sum = 0;
  BlockSeen block;
  if (line == "CONNECT") {
    Reply(connectReply);
  } else if (std::sscanf(line.c_str(), "DF 0 536870912 %d %d", &size, &sum) == 2) {
    left_ = static_cast<size_t>(size);
    state_ = State::kImage;
  } else if (line == "CKID") {
    Reply(ckidReply);
  } else if (std::sscanf(line.c_str(), "SETIT TP=%d,ADD=%d,LEN=%d,CK=%d,MD=%d", &block.tp,
                         &block.add, &block.len, &block.ck, &block.md) == 5) {
    blocks.push_back(block);
    left_ = static_cast<size_t>(2 * block.len + 2 * (block.len / 32));
    state_ = State::kHex;
  } else if (line == "LINK" && linkReply) {
    Reply(*linkReply);
  }
}

}  // namespace apptest
