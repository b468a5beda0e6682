#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/_lib_kbtapp.h"
#include "reference_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Input with exactly the four zero bytes the decoder may read past the stream, so that
// AddressSanitizer catches any read beyond them.
Bytes Padded(Bytes stream) {
  stream.insert(stream.end(), 4, 0);
  return stream;
}

struct Decoded {
  int32_t result;
  Bytes output;
};

Decoded Unpack(const Bytes& stream, int32_t capacity) {
  Bytes in = Padded(stream);
  Bytes out(static_cast<size_t>(capacity), 0);
  int32_t result =
      codec::UnpackWindow(in.data(), static_cast<int32_t>(stream.size()), out.data(), capacity);
  return {result, out};
}

// Writes tokens least significant bit first, as the stream stores them.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (count_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << (count_ % 8));
      ++count_;
    }
  }
  void Literal(uint8_t value) {
    Put(0, 1);
    Put(value, 8);
  }
  void Copy(uint32_t offset, uint32_t length) {
    Put(1, 1);
    Put(offset, 10);
    uint32_t ones = (length - 1) / 8;
    for (uint32_t i = 0; i < ones; ++i)
      Put(1, 1);
    Put(0, 1);
    Put((length - 1) % 8, 3);
  }
  const Bytes& bytes() const { return bytes_; }
  int64_t bits() const { return count_; }

 private:
  Bytes bytes_;
  int64_t count_ = 0;
};

TEST(UnpackWindow, DecodesLiteralsAndCopies) {
  const Bytes stream = {0x82, 0x08, 0x05, 0x40, 0x02, 0x20};
  Decoded d = Unpack(stream, 7);
  ASSERT_EQ(d.result, 6);
  EXPECT_EQ(std::string(d.output.begin(), d.output.begin() + 6), "ABABAB");
}

TEST(UnpackWindow, CopyReachingTheOutputPositionYieldsZeroFillAndPaddingDecodes) {
  Decoded d = Unpack({0x82, 0x08, 0x05, 0xC0, 0x00}, 8);
  ASSERT_EQ(d.result, 7);
  EXPECT_EQ(d.output, (Bytes{0x41, 0x42, 0x41, 0x42, 0x00, 0x00, 0x00, 0x00}));
}

TEST(UnpackWindow, StopsBeforeReachingTheCapacity) {
  Decoded d = Unpack({0x82, 0x08, 0x05, 0x40, 0x02, 0x20}, 6);
  EXPECT_EQ(d.result, -1);
  EXPECT_EQ(std::string(d.output.begin(), d.output.begin() + 4), "ABAB");
  EXPECT_EQ(d.output[4], 0);
}

TEST(UnpackWindow, EmptyInputLeavesOutputUntouched) {
  Bytes out(16, 0x5A);
  uint8_t in[4] = {};
  EXPECT_EQ(codec::UnpackWindow(in, 0, out.data(), 16), 0);
  EXPECT_EQ(out, Bytes(16, 0x5A));
}

TEST(UnpackWindow, OffsetsCountFromTheWindowStartOnceItSlides) {
  BitWriter w;
  for (int i = 0; i < 1100; ++i)
    w.Literal(static_cast<uint8_t>(i * 7));
  w.Copy(1023, 1);  // the last byte produced
  w.Copy(0, 1);     // 1024 positions back from the current position
  Decoded d = Unpack(w.bytes(), 2000);
  ASSERT_GE(d.result, 1102);
  EXPECT_EQ(d.output[1100], static_cast<uint8_t>(1099 * 7));
  EXPECT_EQ(d.output[1101], d.output[1101 - 1024]);
}

TEST(UnpackWindow, RejectsLengthCodesAboveTheWindow) {
  BitWriter w;
  w.Literal('x');
  w.Put(1, 1);
  w.Put(0, 10);
  for (int i = 0; i < 128; ++i)
    w.Put(1, 1);  // 128 ones: length 1025 or more
  w.Put(0, 4);
  EXPECT_EQ(Unpack(w.bytes(), 4096).result, -1);
}

TEST(UnpackWindow, NeverReadsACopySourceOutsideTheBuffer) {
  BitWriter w;
  w.Copy(1000, 100);  // source 1000..1099 in a 600-byte buffer
  EXPECT_EQ(Unpack(w.bytes(), 600).result, -1);
  // Inside the buffer, a source beyond the output position is plain zero fill; the five
  // padding bits of the last byte decode as one more zero literal.
  Decoded d = Unpack(w.bytes(), 1200);
  EXPECT_EQ(d.result, 101);
  EXPECT_EQ(d.output, Bytes(1200, 0));
}

TEST(UnpackWindow, LongestCopyTakes142Bits) {
  BitWriter w;
  w.Literal('z');
  w.Copy(0, 1024);
  EXPECT_EQ(w.bits(), 9 + codec::kMaxCopyTokenBits);
  Decoded d = Unpack(w.bytes(), 2048);
  ASSERT_GE(d.result, 1025);
  EXPECT_EQ(d.output[0], 'z');
  EXPECT_EQ(d.output[1], 'z');  // then zero fill from position 1 on
  EXPECT_EQ(d.output[2], 0);
}

TEST(ReadLength, CountsOnesThenThreeBits) {
  BitWriter w;
  w.Copy(0, 17);  // k = 2, v = 0
  codec::LengthCode code = codec::ReadLength(w.bytes().data(), 11);
  EXPECT_EQ(code.length, 17);
  EXPECT_EQ(code.bits, 6);
  EXPECT_EQ(codec::ReadBit(w.bytes().data(), 0), 1);
}

// Streams made of plausible tokens (copies anywhere in the window, lengths across the
// whole range, literal runs), then random padding bits and random capacities.
Bytes RandomTokenStream(std::mt19937& rng, int64_t& bits) {
  BitWriter w;
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<uint32_t> offset(0, 1023);
  std::geometric_distribution<uint32_t> shortLength(0.15);
  std::uniform_int_distribution<uint32_t> anyLength(1, 1024);
  const int tokens = std::uniform_int_distribution<int>(0, 600)(rng);
  for (int t = 0; t < tokens; ++t) {
    int k = kind(rng);
    if (k < 5) {
      w.Literal(static_cast<uint8_t>(rng()));
    } else {
      uint32_t length = k == 9 ? anyLength(rng) : std::min<uint32_t>(1 + shortLength(rng), 1024);
      w.Copy(offset(rng), length);
    }
  }
  w.Put(rng(), std::uniform_int_distribution<int>(0, 7)(rng));
  bits = w.bits();
  return w.bytes();
}

TEST(UnpackWindow, AgreesWithTheReferenceDecoder) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 3000; ++round) {
    int64_t bits = 0;
    Bytes stream;
    if (round % 4 == 3) {  // plain noise
      stream.resize(std::uniform_int_distribution<size_t>(0, 300)(rng));
      for (auto& b : stream)
        b = static_cast<uint8_t>(rng());
      bits = static_cast<int64_t>(stream.size()) * 8;
    } else {
      stream = RandomTokenStream(rng, bits);
    }
    const int32_t capacity = std::uniform_int_distribution<int32_t>(1, 200000)(rng);
    // Sometimes in bits, sometimes in whole bytes (where padding bits decode too).
    const int64_t total = round % 2 ? bits : static_cast<int64_t>(stream.size()) * 8;

    Bytes referenceIn = stream;
    referenceIn.resize(stream.size() + 64, 0);
    Bytes expected(static_cast<size_t>(capacity), 0);
    const int32_t want = reference::Decode(referenceIn, total, expected);

    Bytes in = Padded(stream);
    Bytes out(static_cast<size_t>(capacity), 0);
    const int32_t got = codec::UnpackWindowBits(in.data(), total, out.data(), capacity);
    ASSERT_EQ(got, want) << "round " << round;
    ASSERT_EQ(out, expected) << "round " << round;
  }
}

}  // namespace
