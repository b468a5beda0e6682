#include "hidlib/named_objects.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace hidlib {
namespace {

using platform::Descriptor;
using platform::RetryOnInterrupt;

// Marks an object as made by this library, in this layout.
constexpr uint32_t Tag(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 |
         uint32_t(uint8_t(text[2])) << 16 | uint32_t(uint8_t(text[3])) << 24;
}

// True for a plain file of exactly one object's size that only the caller can use.
bool IsOwnWholeObject(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0 && st.st_size == off_t{kSharedObjectSize};
}

// Removes a file of ours by name when it goes out of scope.
class NameRemover {
 public:
  NameRemover(int folder, std::string name) : folder_(folder), name_(std::move(name)) {}
  ~NameRemover() { ::unlinkat(folder_, name_.c_str(), 0); }
  NameRemover(const NameRemover&) = delete;
  NameRemover& operator=(const NameRemover&) = delete;

 private:
  int folder_;
  std::string name_;
};

}  // namespace

// ---- the folder ----

namespace {

// True for a folder that user owns and that neither group nor others can write.
bool IsPrivateFolderOf(int fd, uid_t user) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user &&
         (st.st_mode & 022) == 0;
}

// Opens the folder name below at (or the path name, with AT_FDCWD), never through a link,
// after making it with mode 0700 when it is missing.
Descriptor MakeAndOpenFolder(int at, const char* name) {
  const bool made = ::mkdirat(at, name, 0700) == 0;
  if (!made && errno != EEXIST) return Descriptor();
  Descriptor folder(RetryOnInterrupt(
      [&] { return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
  // Exactly 0700, whatever the umask took away.
  if (made && folder.IsOpen()) ::fchmod(folder.Get(), 0700);
  return folder;
}

// The home folder the user database gives user, for a process started without $HOME.
std::string HomeOf(uid_t user) {
  const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return std::string();
  }
  return found->pw_dir;
}

// The user's cache folder as XDG has it: $XDG_CACHE_HOME when that is an absolute path,
// otherwise .cache in the home folder; empty when there is no home folder to be had.
std::string CacheFolder(const ObjectPlaces& places, uid_t user) {
  if (places.cacheHome != nullptr && places.cacheHome[0] == '/') return places.cacheHome;
  const std::string home =
      places.home != nullptr && places.home[0] == '/' ? places.home : HomeOf(user);
  if (home.empty() || home[0] != '/') return std::string();
  return home + "/.cache";
}

// jxusbhid/ in the user's cache folder, both made when missing (a new account has no
// cache folder yet).
Descriptor OpenCacheSubfolder(const ObjectPlaces& places, uid_t user) {
  const std::string cache = CacheFolder(places, user);
  if (cache.empty()) return Descriptor();
  if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) return Descriptor();
  const Descriptor base(
      RetryOnInterrupt([&] { return ::open(cache.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!base.IsOpen()) return Descriptor();
  return MakeAndOpenFolder(base.Get(), kCacheSubfolder);
}

}  // namespace

ObjectPlaces ObjectPlaces::FromEnvironment() noexcept {
  ObjectPlaces places;
  places.runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  places.cacheHome = std::getenv("XDG_CACHE_HOME");
  places.home = std::getenv("HOME");
  return places;
}

ObjectFolder ObjectFolder::ForCaller(const ObjectPlaces& places) noexcept {
  // This runs while the library is being loaded, where an exception would end the
  // program: a folder that cannot be named is no folder.
  try {
    return Find(places);
  } catch (...) {
    return ObjectFolder(Descriptor());
  }
}

ObjectFolder ObjectFolder::Find(const ObjectPlaces& places) {
  const uid_t user = ::geteuid();
  if (places.runtimeDir != nullptr && places.runtimeDir[0] == '/') {
    Descriptor folder(RetryOnInterrupt(
        [&] { return ::open(places.runtimeDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    // A folder that another user owns (root started with a user's environment) or that
    // others can write is no private place.
    if (folder.IsOpen() && IsPrivateFolderOf(folder.Get(), user)) {
      return ObjectFolder(std::move(folder));
    }
  }
  // Never a folder that others can write, such as /dev/shm or /tmp: anyone could put an
  // object of the right name there first and so keep this user from the printer.
  Descriptor own;
  if (user == 0) {
    if (places.rootFolder != nullptr) own = MakeAndOpenFolder(AT_FDCWD, places.rootFolder);
  } else {
    own = OpenCacheSubfolder(places, user);
  }
  if (!own.IsOpen() || !IsPrivateFolderOf(own.Get(), user)) return ObjectFolder(Descriptor());
  return ObjectFolder(std::move(own));
}

// ---- mappings ----

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

SharedMapping SharedMapping::Map(int fd) {
  SharedMapping mapping;
  void* view = ::mmap(nullptr, kSharedObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view != MAP_FAILED) mapping.view_ = view;
  return mapping;
}

SharedMapping SharedMapping::OpenOrCreate(const ObjectFolder& folder, const char* name, Fill fill,
                                          Check check) noexcept {
  // Like the folder, the objects are opened while the library is being loaded.
  try {
    return OpenOrCreateNamed(folder, name, fill, check);
  } catch (...) {
    return {};
  }
}

SharedMapping SharedMapping::OpenOrCreateNamed(const ObjectFolder& folder, const std::string& name,
                                               Fill fill, Check check) {
  if (!folder.IsOpen()) return {};
  // A few rounds at most: the object can appear, made by another process, between our
  // look and our link.
  for (int round = 0; round < 3; ++round) {
    bool missing = false;
    SharedMapping found = OpenExisting(folder, name, check, &missing);
    if (!missing) return found;
    bool lostRace = false;
    SharedMapping made = Create(folder, name, fill, &lostRace);
    if (!lostRace) return made;
  }
  return {};
}

SharedMapping SharedMapping::OpenExisting(const ObjectFolder& folder, const std::string& name,
                                          Check check, bool* missing) {
  // Never through a link, never blocking on whatever special file might sit there.
  Descriptor fd(RetryOnInterrupt([&] {
    return ::openat(folder.Fd(), name.c_str(),
                    O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }));
  *missing = !fd.IsOpen() && errno == ENOENT;
  if (!fd.IsOpen() || !IsOwnWholeObject(fd.Get())) return {};
  SharedMapping mapping = Map(fd.Get());
  if (mapping.IsMapped() && !check(mapping.View())) return {};
  return mapping;
}

SharedMapping SharedMapping::Create(const ObjectFolder& folder, const std::string& name, Fill fill,
                                    bool* lostRace) {
  // The process id keeps the names of two makers apart; a file of that name can only be
  // the leftover of a dead process that had the same id.
  const std::string draft = name + "." + std::to_string(::getpid()) + ".new";
  const auto make = [&] {
    return ::openat(folder.Fd(), draft.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
  };
  Descriptor fd(RetryOnInterrupt(make));
  if (!fd.IsOpen() && errno == EEXIST && ::unlinkat(folder.Fd(), draft.c_str(), 0) == 0) {
    fd = Descriptor(RetryOnInterrupt(make));
  }
  if (!fd.IsOpen()) return {};
  const NameRemover removeDraft(folder.Fd(), draft);
  // Exactly 0600, whatever the umask took away.
  if (::fchmod(fd.Get(), 0600) != 0 || ::ftruncate(fd.Get(), kSharedObjectSize) != 0) return {};
  SharedMapping mapping = Map(fd.Get());
  if (!mapping.IsMapped() || !fill(mapping.View())) return {};
  // link() never replaces: when another process was quicker, its object is the one.
  if (::linkat(folder.Fd(), draft.c_str(), folder.Fd(), name.c_str(), 0) != 0) {
    *lostRace = errno == EEXIST;
    return {};
  }
  return mapping;
}

// ---- owner record ----

namespace {

// Offsets 0 and 4 hold the record; the reserved part after it starts with these words.
constexpr uint32_t kRecordTag = Tag("JXOR");
constexpr uint32_t kRecordLayout = 1;
constexpr int kRecordTagWord = 2;

bool FillRecord(void* view) {
  auto* words = static_cast<uint32_t*>(view);
  words[kRecordTagWord] = kRecordTag;
  words[kRecordTagWord + 1] = kRecordLayout;
  return true;
}

bool CheckRecord(const void* view) {
  const auto* words = static_cast<const uint32_t*>(view);
  return words[kRecordTagWord] == kRecordTag && words[kRecordTagWord + 1] == kRecordLayout;
}

}  // namespace

OwnerRecord OwnerRecord::Open(const ObjectFolder& folder) {
  OwnerRecord record;
  record.mapping_ = SharedMapping::OpenOrCreate(folder, kOwnerRecordName, FillRecord, CheckRecord);
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
  static constexpr uint32_t kTag = Tag("JXOM");
  uint32_t tag;
  uint32_t mutexSize;  // sizeof(pthread_mutex_t) of the maker
  pthread_mutex_t mutex;
};

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

// glibc keeps a mutex's type, robustness, protocol and sharing in the low byte of its
// kind field, which it reads on every lock. A mutex of another kind found in the object
// (priority-protect, say, whose locking can end in an assertion inside the C library) is
// not one this library made, and is never locked.
bool HasOurKind(const pthread_mutex_t& mutex) {
  static const int expected = [] {
    pthread_mutex_t reference;
    if (!InitialiseMutex(&reference)) return -1;
    const int kind = reference.__data.__kind & 0xFF;
    ::pthread_mutex_destroy(&reference);
    return kind;
  }();
  const int kind = std::atomic_ref<const int>(mutex.__data.__kind).load(std::memory_order_relaxed);
  return expected >= 0 && (kind & 0xFF) == expected;
}

}  // namespace

OwnerMutex OwnerMutex::Open(const ObjectFolder& folder) {
  static constexpr SharedMapping::Fill fill = [](void* view) {
    auto* shared = static_cast<Shared*>(view);
    shared->tag = Shared::kTag;
    shared->mutexSize = sizeof(pthread_mutex_t);
    return InitialiseMutex(&shared->mutex);
  };
  static constexpr SharedMapping::Check check = [](const void* view) {
    const auto* shared = static_cast<const Shared*>(view);
    return shared->tag == Shared::kTag && shared->mutexSize == sizeof(pthread_mutex_t) &&
           HasOurKind(shared->mutex);
  };
  static_assert(sizeof(Shared) <= kSharedObjectSize);
  OwnerMutex result;
  result.mapping_ = SharedMapping::OpenOrCreate(folder, kOwnerMutexName, fill, check);
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
