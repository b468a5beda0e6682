// The window encoder against the updater's decoder and the bit-by-bit token walker.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "codec/_lib_kbtapp.h"
#include "codec/window_encoder.h"
#include "tests/codec/window_tokens.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
  int32_t result = 0;
  Bytes output;  // capacity bytes as the decoder left them
  window_tokens::Walk walk;
};

// Decodes as the package reader does: 512 zero bytes behind the stream, capacity U + 512.
Decoded Decode(const Bytes& stream, size_t unpacked) {
  Bytes input(stream);
  input.resize(stream.size() + 512, 0);
  const auto capacity = static_cast<int32_t>(unpacked + 512);
  Decoded d;
  d.output.assign(static_cast<size_t>(capacity), 0);
  d.result = codec::UnpackWindow(input.data(), static_cast<int32_t>(stream.size()), d.output.data(),
                                 capacity);
  Bytes slow(static_cast<size_t>(capacity), 0);
  d.walk = window_tokens::Decode(input.data(), static_cast<int64_t>(input.size()),
                                 static_cast<int64_t>(stream.size()) * 8, slow.data(), capacity);
  return d;
}

void ExpectRoundTrip(const Bytes& data, const codec::PackOptions& options = {}) {
  const Bytes stream = codec::PackWindow(data.data(), data.size(), options);
  ASSERT_LE(stream.size(), codec::PackWindowBound(data.size()));
  const Decoded d = Decode(stream, data.size());
  // At most one literal of padding bits follows the data.
  ASSERT_GE(d.result, static_cast<int32_t>(data.size()));
  ASSERT_LE(d.result, static_cast<int32_t>(data.size()) + 1);
  ASSERT_TRUE(std::equal(data.begin(), data.end(), d.output.begin())) << "size " << data.size();
  EXPECT_EQ(d.walk.result, d.result);
  EXPECT_FALSE(d.walk.zeroFillCopy) << "a copy read the zero fill, size " << data.size();
  EXPECT_FALSE(d.walk.shortCopy);
}

Bytes Random(size_t size, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes data(size);
  for (uint8_t& b : data)
    b = static_cast<uint8_t>(rng() % static_cast<uint32_t>(alphabet));
  return data;
}

Bytes Text(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"SETIT ",    "TP=3,",  "ADD=", "LEN=", "OK\r\n", "printer ",
                                       "firmware ", "block ", "0",    "1",    "2",      "3"};
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < size)
    text += kWords[rng() % 12];
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

Bytes Periodic(size_t size, size_t period) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<uint8_t>(i % period * 37 + 1);
  return data;
}

TEST(WindowEncoder, RoundTripsThroughTheDecoder) {
  // Sizes around the window and the 8-byte length steps, in every kind of data.
  for (size_t size : {1, 2, 3, 7, 8, 9, 255, 1023, 1024, 1025, 2047, 2048, 2049, 5000, 70000}) {
    SCOPED_TRACE(size);
    ExpectRoundTrip(Random(size, static_cast<uint32_t>(size)));
    ExpectRoundTrip(Random(size, static_cast<uint32_t>(size), 3));
    ExpectRoundTrip(Text(size, static_cast<uint32_t>(size)));
    ExpectRoundTrip(Bytes(size, 0));
    ExpectRoundTrip(Periodic(size, 37));
  }
}

TEST(WindowEncoder, RoundTripsWithEveryOptionSet) {
  const Bytes data = Text(20000, 7);
  for (int depth : {1, 4, 1000}) {
    for (int good : {2, 16, 1024, 5000})
      ExpectRoundTrip(data, {depth, good});
  }
}

TEST(WindowEncoder, EmptyInputGivesEmptyStream) {
  EXPECT_TRUE(codec::PackWindow(nullptr, 0).empty());
  EXPECT_EQ(codec::PackWindowBound(0), 0u);
}

TEST(WindowEncoder, DataWithoutRepeatsCostsNineBitsPerByte) {
  Bytes data(256);
  std::iota(data.begin(), data.end(), 0);
  const Bytes stream = codec::PackWindow(data.data(), data.size());
  EXPECT_EQ(stream.size(), codec::PackWindowBound(256));
  EXPECT_EQ(stream.size(), 288u);
  // One literal: 9 bits in two bytes; the 7 padding bits decode as a literal 0.
  const Bytes one{0x41};
  const Bytes packed = codec::PackWindow(one.data(), one.size());
  EXPECT_EQ(packed, (Bytes{0x82, 0x00}));
  EXPECT_EQ(Decode(packed, 1).result, 2);
}

TEST(WindowEncoder, UsesFullLengthCopiesFromTheWindowEdge) {
  // After the first 1,024 bytes every copy can be the longest: 1,024 bytes from offset 0,
  // 142 bits each. Copies start out short, as a copy may not reach its own output.
  const Bytes zeros(1 << 20, 0);
  const Bytes stream = codec::PackWindow(zeros.data(), zeros.size());
  const size_t longCopies = zeros.size() / 1024 - 1;
  EXPECT_LT(stream.size(), (longCopies * codec::kMaxCopyTokenBits + 500) / 8);
  EXPECT_GT(stream.size(), longCopies * codec::kMaxCopyTokenBits / 8);
  ExpectRoundTrip(zeros);
}

TEST(WindowEncoder, NeverReachesBeyondTheWindow) {
  // A block repeated exactly 1,024 bytes later may be copied (offset 0); one repeated
  // 1,025 bytes later lies outside the window and must go out as literals.
  for (size_t gap : {1024 - 64, 1025 - 64, 2000 - 64}) {
    Bytes data = Random(64, 1, 5);
    Bytes filler = Random(gap, 2, 251);
    for (uint8_t& b : filler)
      b = static_cast<uint8_t>(b + 5);  // none of the block's bytes
    data.insert(data.end(), filler.begin(), filler.end());
    const Bytes block(data.begin(), data.begin() + 64);
    data.insert(data.end(), block.begin(), block.end());
    SCOPED_TRACE(gap);
    ExpectRoundTrip(data);
    const Bytes stream = codec::PackWindow(data.data(), data.size());
    // Packed without its first block, the data costs about as much as with it only when
    // the repeat went out as one copy.
    const Bytes tail = codec::PackWindow(data.data() + 64, data.size() - 64);
    EXPECT_EQ(stream.size() < tail.size() + 20, gap + 64 <= 1024);
  }
}

TEST(WindowEncoder, PacksMixedDataWell) {
  Bytes data = Text(200000, 3);
  const Bytes binary = Random(50000, 4, 16);
  data.insert(data.end(), binary.begin(), binary.end());
  data.insert(data.end(), 30000, 0xFF);
  const Bytes stream = codec::PackWindow(data.data(), data.size());
  EXPECT_LT(stream.size(), data.size() / 2);
  ExpectRoundTrip(data);
}

}  // namespace
