// The objects that every process loading the library shares: the owner record in the
// shared memory "/JX_USBHID_MEMMAP" and the mutex in "/JX_USBHID_MUTEX". Both are POSIX
// shared memory objects of the user (mode 0600).
#pragma once

#include <cstddef>
#include <cstdint>

namespace hidlib {

inline constexpr const char kOwnerRecordName[] = "/JX_USBHID_MEMMAP";
inline constexpr const char kOwnerMutexName[] = "/JX_USBHID_MUTEX";
inline constexpr size_t kSharedObjectSize = 4096;

// A shared mapping of a shared memory object; unmapped on destruction.
class SharedMapping {
 public:
  SharedMapping() = default;
  ~SharedMapping();
  SharedMapping(SharedMapping&& other) noexcept;
  SharedMapping& operator=(SharedMapping&& other) noexcept;
  SharedMapping(const SharedMapping&) = delete;
  SharedMapping& operator=(const SharedMapping&) = delete;

  // Opens the object called name, or creates it when there is none; created says which.
  // The object is made kSharedObjectSize bytes (zero-filled) and mapped read/write.
  // Empty when any step fails.
  static SharedMapping OpenOrCreate(const char* name, bool* created);
  // Forgets the mapping without unmapping it: it stays for the life of the process.
  void Abandon();

  bool IsMapped() const { return view_ != nullptr; }
  void* View() const { return view_; }

 private:
  static SharedMapping MapDescriptor(int fd);

  void* view_ = nullptr;
};

// The record at offset 0 of the owner memory: the owning process id and a high half that
// is always 0 (a 64-bit little-endian value). The rest of the 4096 bytes is unused.
class OwnerRecord {
 public:
  OwnerRecord() = default;
  // Opens or creates "/JX_USBHID_MEMMAP"; not IsMapped() when it cannot be.
  static OwnerRecord Open();
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

// A process-shared, robust, recursive mutex living in "/JX_USBHID_MUTEX". The process that
// creates the object initialises the mutex; the others wait until it is ready.
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

  // Opens or creates the mutex (waiting up to about a second for a creator in another
  // process to finish); not IsValid() when it cannot be.
  static OwnerMutex Open();
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
