// Fixed-capacity ring of bytes over storage owned by the caller: the HID library's
// receive ring. It counts what it holds and fills up to the last byte; the printer
// port's ring (usb/ring_buffer.h) keeps read and write pointers and a fill limit of
// its own, and lives in the program rather than the library.
#pragma once

#include <cstdint>

namespace hidlib {

class ByteRing {
 public:
  // Empties the ring and makes it use capacity bytes at storage.
  void Reset(uint8_t* storage, uint32_t capacity);
  // Empties the ring over its current storage.
  void Clear() { Reset(data_, capacity_); }

  // Stores one byte. There is no room check: callers never put more than FreeSpace().
  void Put(uint8_t byte);
  // Takes the oldest byte; 0 (and nothing changes) when the ring is empty.
  uint8_t Get();

  uint32_t Count() const { return count_; }
  uint32_t FreeSpace() const { return capacity_ - count_; }

 private:
  uint8_t* data_ = nullptr;
  uint32_t write_ = 0;
  uint32_t read_ = 0;
  uint32_t capacity_ = 0;
  bool notEmpty_ = false;
  bool full_ = false;
  uint32_t count_ = 0;
};

}  // namespace hidlib
