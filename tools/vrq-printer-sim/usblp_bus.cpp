#include "tools/vrq-printer-sim/usblp_bus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

namespace sim {

namespace {

constexpr int64_t kStepUs = 1000;             // the printer's pace is played in 1 ms frames
constexpr int64_t kOwnerLookUs = 100 * 1000;  // how often a holder is checked for its end
constexpr int64_t kIdleLookUs = 10 * 1000;    // a chunk whose bell was lost waits no longer

template <typename T>
T Load(const T* field) {
  return __atomic_load_n(field, __ATOMIC_ACQUIRE);
}

template <typename T>
void Store(T* field, T value) {
  __atomic_store_n(field, value, __ATOMIC_RELEASE);
}

template <typename T>
bool Exchange(T* field, T& expected, T desired) {
  return __atomic_compare_exchange_n(field, &expected, desired, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE);
}

uint64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t Submitted(const vrq_usblp_node* node) {
  return Load(&node->submitted) & VRQ_USBLP_TAKEN_MASK;
}

}  // namespace

bool ProcessAlive(int pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  size_t end = text.rfind(") ");
  if (end == std::string::npos || end + 2 >= text.size()) return true;
  char state = text[end + 2];
  return state != 'Z' && state != 'X';
}

// ---------------------------------------------------------------------------------------
// UsblpShared

UsblpShared::UsblpShared(const std::string& folder) : folder_(folder) {
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    error_ = "cannot make " + folder + ": " + std::strerror(errno);
    return;
  }
  std::string statePath = folder + "/" + VRQ_USBLP_STATE_FILE;
  std::string bellPath = folder + "/" + VRQ_USBLP_BELL_FILE;
  platform::Descriptor file(open(statePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file.IsOpen() || fchmod(file.Get(), 0666) != 0 ||
      ftruncate(file.Get(), sizeof(vrq_usblp_state)) != 0) {
    error_ = "cannot make " + statePath + ": " + std::strerror(errno);
    return;
  }
  void* map =
      mmap(nullptr, sizeof(vrq_usblp_state), PROT_READ | PROT_WRITE, MAP_SHARED, file.Get(), 0);
  if (map == MAP_FAILED) {
    error_ = "cannot map " + statePath + ": " + std::strerror(errno);
    return;
  }
  if (mkfifo(bellPath.c_str(), 0666) != 0 || chmod(bellPath.c_str(), 0666) != 0) {
    error_ = "cannot make " + bellPath + ": " + std::strerror(errno);
    munmap(map, sizeof(vrq_usblp_state));
    return;
  }
  bell_.Reset(open(bellPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  bellKeeper_.Reset(open(bellPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  state_ = static_cast<vrq_usblp_state*>(map);
  state_->version = VRQ_USBLP_VERSION;
  state_->node_count = VRQ_USBLP_NODES;
  Store(&state_->magic, VRQ_USBLP_MAGIC);
}

UsblpShared::~UsblpShared() {
  if (state_ != nullptr) munmap(state_, sizeof(vrq_usblp_state));
}

vrq_usblp_node* UsblpShared::Node(int lp) {
  if (state_ == nullptr || lp < 0 || lp >= VRQ_USBLP_NODES) return nullptr;
  return &state_->nodes[lp];
}

void UsblpShared::MakeNode(int lp, const std::string& ptyName) {
  vrq_usblp_node* node = Node(lp);
  if (node == nullptr) return;
  Store(&node->node, 0u);
  Store(&node->owner, 0);
  Store(&node->chunk_length, 0u);
  Store(&node->chunk_start, uint64_t{0});
  Store(&node->submitted, uint64_t{0});
  Store(&node->submitted_ns, uint64_t{0});
  Store(&node->closed_ns, uint64_t{0});
  Store(&node->progress, vrq_usblp_progress(Load(&node->sessions), 0, 1));
  std::memset(node->pty, 0, sizeof node->pty);
  std::strncpy(node->pty, ptyName.c_str(), sizeof node->pty - 1);
  Store(&node->node, ++lastNode_);
}

void UsblpShared::RemoveNode(int lp) {
  if (vrq_usblp_node* node = Node(lp)) Store(&node->node, 0u);
}

void UsblpShared::EmptyBell() {
  char buffer[256];
  while (read(bell_.Get(), buffer, sizeof buffer) > 0) {
  }
}

// ---------------------------------------------------------------------------------------
// UsblpBus

UsblpBus::UsblpBus(BusSettings settings) : settings_(std::move(settings)) {}

void UsblpBus::Attach(vrq_usblp_node* node) {
  node_ = node;
  following_ = false;
  chunkActive_ = false;
}

void UsblpBus::Detach() {
  Attach(nullptr);
}

void UsblpBus::Serve(int64_t nowUs, BusPrinter& printer) {
  lastServeUs_ = nowUs;
  if (node_ == nullptr) return;
  uint64_t progress = Load(&node_->progress);
  if (!FollowSession(progress, nowUs, printer)) return;
  if (OwnerGone(nowUs)) return;

  uint64_t taken = vrq_usblp_taken(progress);
  uint64_t submitted = Submitted(node_);
  if (taken >= submitted) {
    chunkActive_ = false;
    return;
  }
  if (!chunkActive_) BeginChunk(taken, nowUs, printer);
  if (!chunkActive_) return;
  if (nowUs < holdUntilUs_) {
    printer.Holding(nowUs / 1000);
    return;
  }
  credit_ += static_cast<double>(nowUs - paceFromUs_) * static_cast<double>(settings_.rate) / 1e6;
  paceFromUs_ = nowUs;
  uint64_t room = std::min(submitted, chunkEnd_) - taken;
  credit_ = std::min(credit_, static_cast<double>(room));
  uint64_t limit = printer.TakeLimit();
  printerStopped_ = limit == 0;
  uint64_t count = std::min<uint64_t>({static_cast<uint64_t>(std::floor(credit_)), room, limit});
  if (count == 0) return;
  uint8_t bytes[VRQ_USBLP_CHUNK];
  std::memcpy(bytes, node_->chunk + (taken - chunkStart_), count);
  // The take and a close race for the same word: only one of them wins.
  if (!Exchange(&node_->progress, progress, progress + count)) return;
  credit_ -= static_cast<double>(count);
  takenMine_ = taken + count;
  bytesTaken_ += count;
  if (takenMine_ >= chunkEnd_) chunkActive_ = false;
  printer.Take(bytes, count, nowUs / 1000);
}

void UsblpBus::Finish(int64_t nowUs, BusPrinter& printer) {
  if (node_ == nullptr || !following_) return;
  nextOwnerLookUs_ = 0;
  if (OwnerGone(nowUs)) FollowSession(Load(&node_->progress), nowUs, printer);
}

// Notices sessions that end and begin; true while one is open.
bool UsblpBus::FollowSession(uint64_t progress, int64_t nowUs, BusPrinter& printer) {
  uint32_t session = vrq_usblp_session(progress);
  bool closed = (progress & VRQ_USBLP_CLOSED) != 0;
  if (following_ && (session != session_ || closed)) {
    CloseReport report;
    if (session == session_) {
      report.lost = Submitted(node_) - vrq_usblp_taken(progress);
      report.closedNs = Load(&node_->closed_ns);
    } else {
      // A new holder took over a node whose holder had ended without a close: the stream
      // now stands where that one left it.
      report.lost = vrq_usblp_taken(progress) - takenMine_;
    }
    if (report.closedNs == 0) report.closedNs = MonotonicNs();
    report.lastSubmittedNs = Load(&node_->submitted_ns);
    following_ = false;
    chunkActive_ = false;
    printer.HostClosed(report, nowUs / 1000);
  }
  if (!following_ && !closed) {
    following_ = true;
    session_ = session;
    takenMine_ = vrq_usblp_taken(progress);
    nextOwnerLookUs_ = nowUs + kOwnerLookUs;
  }
  return following_;
}

// A holder that ended without closing (killed, or an exit that never called close())
// closes the node as it goes: the kernel releases its descriptors.
bool UsblpBus::OwnerGone(int64_t nowUs) {
  if (nowUs < nextOwnerLookUs_) return false;
  nextOwnerLookUs_ = nowUs + kOwnerLookUs;
  int32_t owner = Load(&node_->owner);
  if (owner == 0 || ProcessAlive(owner)) return false;
  Store(&node_->closed_ns, MonotonicNs());
  uint64_t progress = Load(&node_->progress);
  while (vrq_usblp_session(progress) == session_ && (progress & VRQ_USBLP_CLOSED) == 0) {
    if (Exchange(&node_->progress, progress, progress | VRQ_USBLP_CLOSED)) break;
  }
  Exchange(&node_->owner, owner, 0);
  return true;
}

void UsblpBus::BeginChunk(uint64_t taken, int64_t nowUs, BusPrinter& printer) {
  uint64_t start = Load(&node_->chunk_start);
  uint64_t end = start + Load(&node_->chunk_length);
  // The host submits a chunk only when the last one is complete, so the stream stands
  // at a chunk's start or inside it; anything else is a chunk being replaced.
  if (taken < start || taken >= end) return;
  chunkActive_ = true;
  chunkStart_ = start;
  chunkEnd_ = end;
  ChunkInfo chunk;
  chunk.number = ++chunks_;
  chunk.length = static_cast<uint32_t>(end - taken);
  chunk.submittedNs = Load(&node_->submitted_ns);
  ChunkFacts facts = printer.ChunkBegins(chunk);
  holdUntilUs_ = nowUs + NakMs(chunk, facts) * 1000;
  paceFromUs_ = std::max(nowUs, holdUntilUs_);
  credit_ = 0;
}

int64_t UsblpBus::NakMs(const ChunkInfo& chunk, const ChunkFacts& facts) const {
  int64_t ms = 0;
  for (const Fault& fault : settings_.naks) {
    if (fault.kind != FaultKind::kNak) continue;
    bool hit = false;
    switch (fault.nakAt) {
      case NakAt::kChunk:
        hit = fault.block == chunk.number;
        break;
      case NakAt::kImageEnd:
        hit = facts.imageEnd;
        break;
      case NakAt::kBlockEnd:
        hit = facts.blockEnd != 0 && facts.blockEnd == fault.block;
        break;
      case NakAt::kAfterLink:
        hit = facts.afterLink;
        break;
    }
    if (hit) ms += fault.ms;
  }
  return ms;
}

int64_t UsblpBus::NextDueUs(int64_t limitUs) const {
  if (node_ == nullptr || !following_) return limitUs;
  int64_t next = std::min(limitUs, nextOwnerLookUs_);
  if (!chunkActive_ || printerStopped_) return std::min(next, lastServeUs_ + kIdleLookUs);
  if (lastServeUs_ < holdUntilUs_) return std::min(next, holdUntilUs_);
  return std::min(next, lastServeUs_ + kStepUs);
}

}  // namespace sim
