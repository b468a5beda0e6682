#include "hidlib/byte_ring.h"

#include <gtest/gtest.h>

namespace {

TEST(ByteRingTest, KeepsOrderAcrossTheWrapAndGivesZeroWhenEmpty) {
  uint8_t storage[4];
  hidlib::ByteRing ring;
  ring.Reset(storage, sizeof storage);
  EXPECT_EQ(ring.Get(), 0);
  EXPECT_EQ(ring.Count(), 0u);
  uint8_t next = 1, expected = 1;
  for (int round = 0; round < 5; ++round) {  // indexes wrap several times
    while (ring.FreeSpace() > 0)
      ring.Put(next++);
    EXPECT_EQ(ring.Count(), 4u);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(ring.Get(), expected++);
  }
  while (ring.Count() > 0)
    EXPECT_EQ(ring.Get(), expected++);
  EXPECT_EQ(ring.Get(), 0);
  EXPECT_EQ(ring.FreeSpace(), 4u);
  ring.Put(9);
  ring.Clear();
  EXPECT_EQ(ring.Count(), 0u);
  EXPECT_EQ(ring.Get(), 0);
}

}  // namespace
