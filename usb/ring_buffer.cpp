#include "usb/ring_buffer.h"

#include <algorithm>
#include <cstring>

namespace usb {

void ring_init(ring_buffer* ring, uint8_t* storage, uint32_t capacity) {
  ring->base = storage;
  ring->write_pos = storage;
  ring->read_pos = storage;
  ring->capacity = capacity;
  ring->limit = capacity - 2;
}

uint32_t ring_capacity(const ring_buffer* ring) {
  return ring->capacity;
}

uint32_t ring_count(const ring_buffer* ring) {
  if (ring->write_pos >= ring->read_pos) {
    return static_cast<uint32_t>(ring->write_pos - ring->read_pos);
  }
  return ring->capacity - static_cast<uint32_t>(ring->read_pos - ring->write_pos);
}

bool ring_is_full(const ring_buffer* ring) {
  return ring_count(ring) > ring->limit;
}

uint32_t ring_write(ring_buffer* ring, const uint8_t* data, uint32_t n) {
  uint8_t* end = ring->base + ring->capacity;
  uint32_t left = n;
  while (left > 0) {
    uint32_t piece = std::min<uint32_t>(left, static_cast<uint32_t>(end - ring->write_pos));
    std::memcpy(ring->write_pos, data, piece);
    data += piece;
    left -= piece;
    ring->write_pos += piece;
    if (ring->write_pos == end) ring->write_pos = ring->base;
  }
  return n;
}

void ring_read(ring_buffer* ring, uint8_t* out, uint32_t n) {
  uint8_t* end = ring->base + ring->capacity;
  while (n > 0) {
    uint32_t piece = std::min<uint32_t>(n, static_cast<uint32_t>(end - ring->read_pos));
    std::memcpy(out, ring->read_pos, piece);
    out += piece;
    n -= piece;
    ring->read_pos += piece;
    if (ring->read_pos == end) ring->read_pos = ring->base;
  }
}

}  // namespace usb
