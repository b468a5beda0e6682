// The objects that the processes of one user share when they load the library: the owner
// record "JX_USBHID_MEMMAP" and the owner mutex "JX_USBHID_MUTEX", each a file of 4096
// bytes mapped with mmap.
//
// They belong to one user, never to the machine, and live in a folder that no other user
// can write, so that nobody else can plant, replace or remove them: $XDG_RUNTIME_DIR when
// that names a folder of the calling user that nobody else can write; otherwise, for root,
// /run/jxusbhid/, and for any other user, jxusbhid/ in the user's cache folder
// ($XDG_CACHE_HOME, by default ~/.cache). Those two are made with mode 0700 when missing;
// one that another user owns or that group or others can write is refused, and the
// library then has no objects (hidusbOpen refuses). The objects are made with mode 0600,
// and one that belongs to another user, is anything but a plain file of exactly 4096
// bytes, or does not hold what this library puts there is never used: opening it fails.
//
// A process that makes an object fills it in under a name of its own and then links it to
// its real name, so no process ever sees an object half made, and one that dies while
// making it leaves nothing that others would wait on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/descriptor.h"

namespace hidlib {

inline constexpr const char kOwnerRecordName[] = "JX_USBHID_MEMMAP";
inline constexpr const char kOwnerMutexName[] = "JX_USBHID_MUTEX";
inline constexpr size_t kSharedObjectSize = 4096;
// root's folder for them where it has no runtime folder of its own.
inline constexpr const char kRootObjectFolder[] = "/run/jxusbhid";
// Their folder's name in the cache folder of any other user.
inline constexpr const char kCacheSubfolder[] = "jxusbhid";

// What decides where the calling user's objects live: its environment, and root's folder.
struct ObjectPlaces {
  const char* runtimeDir = nullptr;  // $XDG_RUNTIME_DIR, null when unset
  const char* cacheHome = nullptr;   // $XDG_CACHE_HOME, null when unset
  const char* home = nullptr;        // $HOME, null when unset (then the user database's)
  const char* rootFolder = kRootObjectFolder;

  // The calling process's environment.
  static ObjectPlaces FromEnvironment() noexcept;
};

// The folder that holds the calling user's objects.
class ObjectFolder {
 public:
  // The runtime folder when it is an absolute path of a folder that the calling user owns
  // and that neither group nor others can write; otherwise root's folder for root and the
  // cache folder for anyone else, made when missing. Not IsOpen() when that folder cannot
  // be made or opened, or is not the caller's own and private.
  static ObjectFolder ForCaller(const ObjectPlaces& places) noexcept;

  bool IsOpen() const { return folder_.IsOpen(); }
  int Fd() const { return folder_.Get(); }

 private:
  static ObjectFolder Find(const ObjectPlaces& places);
  explicit ObjectFolder(platform::Descriptor folder) : folder_(std::move(folder)) {}

  platform::Descriptor folder_;
};

// A shared read/write mapping of one object; unmapped on destruction.
class SharedMapping {
 public:
  // Fills in the zeroed view of a new object; false when it cannot.
  using Fill = bool (*)(void* view);
  // Tells whether the view of an existing object holds what Fill puts there.
  using Check = bool (*)(const void* view);

  SharedMapping() = default;
  ~SharedMapping();
  SharedMapping(SharedMapping&& other) noexcept;
  SharedMapping& operator=(SharedMapping&& other) noexcept;
  SharedMapping(const SharedMapping&) = delete;
  SharedMapping& operator=(const SharedMapping&) = delete;

  // Maps the object called name in folder, making it with fill when there is none.
  // Empty when the object cannot be made, or when the one found is not the caller's own
  // or fails check.
  static SharedMapping OpenOrCreate(const ObjectFolder& folder, const char* name, Fill fill,
                                    Check check) noexcept;
  // Forgets the mapping without unmapping it: it stays for the life of the process.
  void Abandon() { view_ = nullptr; }

  bool IsMapped() const { return view_ != nullptr; }
  void* View() const { return view_; }

 private:
  static SharedMapping Map(int fd);
  static SharedMapping OpenOrCreateNamed(const ObjectFolder& folder, const std::string& name,
                                         Fill fill, Check check);
  static SharedMapping OpenExisting(const ObjectFolder& folder, const std::string& name,
                                    Check check, bool* missing);
  static SharedMapping Create(const ObjectFolder& folder, const std::string& name, Fill fill,
                              bool* lostRace);

  void* view_ = nullptr;
};

// The record at offset 0 of the owner memory: the owning process id and a high half that
// is always 0 (a 64-bit little-endian value). A tag after it marks the object as this
// library's; the rest of the 4096 bytes is unused.
class OwnerRecord {
 public:
  OwnerRecord() = default;
  // Opens or makes the owner record in folder; not IsMapped() when it cannot.
  static OwnerRecord Open(const ObjectFolder& folder);
  bool IsMapped() const { return mapping_.IsMapped(); }

  // True when the record reads (processId, 0).
  bool Names(uint32_t processId) const;
  // Writes (processId, 0); 0 marks the device as unowned.
  void Write(uint32_t processId);
  // Clears the process id alone, leaving the high half as it is.
  void ClearProcessId();

 private:
  uint32_t* Words() const { return static_cast<uint32_t*>(mapping_.View()); }

  SharedMapping mapping_;
};

// A process-shared, robust, recursive mutex in the owner mutex object.
class OwnerMutex {
 public:
  enum class TryResult {
    kAcquired,   // held now (again, when this thread held it already)
    kAbandoned,  // held now; its previous holder died while holding it
    kBusy,       // another thread, of this or another process, holds it
    kFailed,     // no mutex, or it cannot be used any more
  };

  OwnerMutex() = default;
  ~OwnerMutex() { KeepMappedWhileHeld(); }
  OwnerMutex(OwnerMutex&& other) noexcept;
  OwnerMutex& operator=(OwnerMutex&& other) noexcept;
  OwnerMutex(const OwnerMutex&) = delete;
  OwnerMutex& operator=(const OwnerMutex&) = delete;

  // Opens or makes the owner mutex in folder; not IsValid() when it cannot, or when the
  // object found holds no mutex of the kind this library makes.
  static OwnerMutex Open(const ObjectFolder& folder);
  bool IsValid() const { return mapping_.IsMapped(); }

  // Takes the mutex without waiting.
  TryResult TryLock();
  // Releases one hold of the calling thread; no effect for a thread that holds none.
  void Unlock();

 private:
  struct Shared;
  Shared* State() const { return static_cast<Shared*>(mapping_.View()); }
  void KeepMappedWhileHeld();

  SharedMapping mapping_;
  int holds_ = 0;  // holds taken by this process and not yet released
};

}  // namespace hidlib
