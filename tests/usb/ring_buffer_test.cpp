// The receive ring on its own.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "usb/ring_buffer.h"

namespace usb {
namespace {

TEST(RingBuffer, CountsAndWrapsInArrivalOrder) {
  uint8_t storage[10];
  ring_buffer ring;
  ring_init(&ring, storage, sizeof storage);
  EXPECT_EQ(ring_capacity(&ring), 10u);
  EXPECT_EQ(ring.limit, 8u);
  EXPECT_EQ(ring_count(&ring), 0u);

  std::vector<uint8_t> data(7);
  std::iota(data.begin(), data.end(), 1);
  EXPECT_EQ(ring_write(&ring, data.data(), 7), 7u);
  uint8_t out[10] = {};
  ring_read(&ring, out, 5);
  EXPECT_EQ(ring_count(&ring), 2u);

  // 6 more bytes run over the end of the storage: write_pos wraps behind read_pos.
  std::vector<uint8_t> more{8, 9, 10, 11, 12, 13};
  ring_write(&ring, more.data(), 6);
  EXPECT_LT(ring.write_pos, ring.read_pos);
  EXPECT_EQ(ring_count(&ring), 8u);
  EXPECT_FALSE(ring_is_full(&ring));
  ring_read(&ring, out, 8);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{6, 7, 8, 9, 10, 11, 12, 13}));
  EXPECT_EQ(ring_count(&ring), 0u);
}

TEST(RingBuffer, WriteEndingOnTheLastByteReturnsToBase) {
  uint8_t storage[8];
  ring_buffer ring;
  ring_init(&ring, storage, sizeof storage);
  uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[8];
  ring_write(&ring, data, 4);
  ring_read(&ring, out, 4);
  ring_write(&ring, data, 4);  // fills positions 4..7 exactly
  EXPECT_EQ(ring.write_pos, ring.base);
  EXPECT_EQ(ring_count(&ring), 4u);
  ring_read(&ring, out, 4);
  EXPECT_EQ(ring.read_pos, ring.base);
}

}  // namespace
}  // namespace usb
