#include "hidlib/named_objects.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace hidlib {
namespace {

constexpr auto kCreatorWait = std::chrono::seconds(1);
constexpr auto kCreatorPoll = std::chrono::milliseconds(1);

// Closes a descriptor on every path out of the functions below.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

int OpenShared(const char* name) {
  return ::shm_open(name, O_RDWR | O_CLOEXEC, 0);
}

int CreateShared(const char* name) {
  return ::shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

off_t SizeOf(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

template <typename Ready>
bool WaitFor(Ready ready) {
  const auto deadline = std::chrono::steady_clock::now() + kCreatorWait;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kCreatorPoll);
  }
  return true;
}

}  // namespace

void SharedMapping::Abandon() {
  view_ = nullptr;
}

SharedMapping::~SharedMapping() {
  if (view_ != nullptr) ::munmap(view_, kSharedObjectSize);
}

SharedMapping::SharedMapping(SharedMapping&& other) noexcept
    : view_(std::exchange(other.view_, nullptr)) {}

SharedMapping& SharedMapping::operator=(SharedMapping&& other) noexcept {
  if (this != &other) {
    if (view_ != nullptr) ::munmap(view_, kSharedObjectSize);
    view_ = std::exchange(other.view_, nullptr);
  }
  return *this;
}

SharedMapping SharedMapping::MapDescriptor(int fd) {
  SharedMapping mapping;
  void* view = ::mmap(nullptr, kSharedObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view != MAP_FAILED) mapping.view_ = view;
  return mapping;
}

SharedMapping SharedMapping::OpenOrCreate(const char* name, bool* created) {
  *created = false;
  // Two rounds at most: the object can appear between our open and our create.
  for (int round = 0; round < 2; ++round) {
    Descriptor fd(OpenShared(name));
    if (!fd.valid()) {
      if (errno != ENOENT) return {};
      Descriptor made(CreateShared(name));
      if (!made.valid()) {
        if (errno == EEXIST) continue;
        return {};
      }
      if (::ftruncate(made.get(), kSharedObjectSize) != 0) {
        ::shm_unlink(name);
        return {};
      }
      *created = true;
      return MapDescriptor(made.get());
    }
    // Its creator may not have sized it yet; giving it the same size here is harmless and
    // keeps the mapping from reaching past the end of the object.
    if (SizeOf(fd.get()) < off_t{kSharedObjectSize} &&
        ::ftruncate(fd.get(), kSharedObjectSize) != 0) {
      return {};
    }
    return MapDescriptor(fd.get());
  }
  return {};
}

// ---- owner record ----

OwnerRecord OwnerRecord::Open() {
  OwnerRecord record;
  bool created = false;
  record.mapping_ = SharedMapping::OpenOrCreate(kOwnerRecordName, &created);
  if (created && record.IsMapped()) record.Write(0);
  return record;
}

bool OwnerRecord::Names(uint32_t processId) const {
  return Words()[0] == processId && Words()[1] == 0;
}

void OwnerRecord::Write(uint32_t processId) {
  Words()[0] = processId;
  Words()[1] = 0;
}

void OwnerRecord::ClearProcessId() {
  Words()[0] = 0;
}

// ---- owner mutex ----

struct OwnerMutex::Shared {
  static constexpr uint32_t kReady = 0x4855584A;  // "JXUH": the creator has finished
  uint32_t ready;
  uint32_t reserved;
  pthread_mutex_t mutex;
};
static_assert(sizeof(pthread_mutex_t) + 8 <= kSharedObjectSize);
// Lock-free atomics work across processes on shared memory.
static_assert(std::atomic_ref<uint32_t>::is_always_lock_free);

namespace {

bool InitialiseMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  if (::pthread_mutexattr_init(&attributes) != 0) return false;
  const bool set = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                   ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                   ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0;
  const bool made = set && ::pthread_mutex_init(mutex, &attributes) == 0;
  ::pthread_mutexattr_destroy(&attributes);
  return made;
}

}  // namespace

OwnerMutex OwnerMutex::Open() {
  OwnerMutex result;
  bool created = false;
  result.mapping_ = SharedMapping::OpenOrCreate(kOwnerMutexName, &created);
  if (!result.IsValid()) return result;
  std::atomic_ref<uint32_t> ready(result.State()->ready);
  if (created) {
    if (!InitialiseMutex(&result.State()->mutex)) {
      // Leave no half-made object behind for others to wait on.
      result.mapping_ = SharedMapping();
      ::shm_unlink(kOwnerMutexName);
      return result;
    }
    ready.store(Shared::kReady, std::memory_order_release);
    return result;
  }
  // Opened while its creator may still be initialising it: wait until it is ready.
  if (!WaitFor([&] { return ready.load(std::memory_order_acquire) == Shared::kReady; })) {
    result.mapping_ = SharedMapping();
  }
  return result;
}

OwnerMutex::OwnerMutex(OwnerMutex&& other) noexcept
    : mapping_(std::move(other.mapping_)), holds_(std::exchange(other.holds_, 0)) {}

OwnerMutex& OwnerMutex::operator=(OwnerMutex&& other) noexcept {
  if (this != &other) {
    KeepMappedWhileHeld();
    mapping_ = std::move(other.mapping_);
    holds_ = std::exchange(other.holds_, 0);
  }
  return *this;
}

OwnerMutex::TryResult OwnerMutex::TryLock() {
  if (!IsValid()) return TryResult::kFailed;
  switch (::pthread_mutex_trylock(&State()->mutex)) {
    case 0:
      ++holds_;
      return TryResult::kAcquired;
    case EOWNERDEAD:
      ::pthread_mutex_consistent(&State()->mutex);
      ++holds_;
      return TryResult::kAbandoned;
    case EBUSY:
      return TryResult::kBusy;
    default:
      return TryResult::kFailed;
  }
}

void OwnerMutex::Unlock() {
  if (IsValid() && ::pthread_mutex_unlock(&State()->mutex) == 0) --holds_;
}

void OwnerMutex::KeepMappedWhileHeld() {
  // A held robust mutex stays on its holder's list of robust mutexes, which the kernel and
  // the C library walk when the thread ends or locks another one: its memory must stay
  // mapped for as long as the process lives.
  if (holds_ > 0) mapping_.Abandon();
}

}  // namespace hidlib
