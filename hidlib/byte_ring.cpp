#include "hidlib/byte_ring.h"

namespace hidlib {

void ByteRing::Reset(uint8_t* storage, uint32_t capacity) {
  data_ = storage;
  capacity_ = capacity;
  write_ = 0;
  read_ = 0;
  notEmpty_ = false;
  full_ = false;
  count_ = 0;
}

void ByteRing::Put(uint8_t byte) {
  ++count_;
  data_[write_] = byte;
  if (++write_ == capacity_) write_ = 0;
  if (write_ == read_) full_ = true;
  notEmpty_ = true;
}

uint8_t ByteRing::Get() {
  full_ = false;
  if (!notEmpty_) return 0;
  --count_;
  const uint8_t byte = data_[read_];
  if (++read_ == capacity_) read_ = 0;
  if (read_ == write_) notEmpty_ = false;
  return byte;
}

}  // namespace hidlib
