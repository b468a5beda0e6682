// The printer port's receive ring: a byte ring over storage that somebody else owns.
// None of these functions locks; the port's Lock guards every use.
#pragma once

#include <cstdint>

namespace usb {

struct ring_buffer {
  uint8_t* base = nullptr;       // first byte of the storage
  uint8_t* write_pos = nullptr;  // where the next stored byte goes
  uint8_t* read_pos = nullptr;   // the next byte to take
  uint32_t capacity = 0;         // storage size in bytes
  uint32_t limit = 0;            // capacity - 2; the ring counts as full above it
};

// Points all three positions at storage; limit = capacity - 2 (capacity >= 2).
void ring_init(ring_buffer* ring, uint8_t* storage, uint32_t capacity);
uint32_t ring_capacity(const ring_buffer* ring);
// Bytes held: write_pos - read_pos, or capacity - (read_pos - write_pos) once wrapped.
uint32_t ring_count(const ring_buffer* ring);
bool ring_is_full(const ring_buffer* ring);
// Appends n bytes, wrapping at the end of the storage, and returns n. Does not check
// for room: the caller makes sure the ring never fills up to read_pos.
uint32_t ring_write(ring_buffer* ring, const uint8_t* data, uint32_t n);
// Takes n bytes in arrival order; the caller never asks for more than ring_count.
void ring_read(ring_buffer* ring, uint8_t* out, uint32_t n);

}  // namespace usb
