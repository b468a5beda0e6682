#include "codec/window_encoder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>

#include "codec/_lib_kbtapp.h"

namespace codec {
namespace {

constexpr size_t kWindow = MAX_WND_SIZE;
constexpr size_t kMaxLength = MAX_WND_SIZE;
constexpr size_t kMinLength = 2;
constexpr int kHash3Bits = 15;
constexpr int kPairBits = 16;

// Table sizes grow with the input up to their full size, so small inputs stay cheap.
int TableBits(size_t size, int most) {
  int bits = 8;
  while (bits < most && (size_t{1} << bits) < size)
    ++bits;
  return bits;
}

// Appends bit fields least significant bit first into a buffer sized for the worst case.
class BitWriter {
 public:
  explicit BitWriter(size_t capacity) : out_(capacity + 8) {}

  // count <= 32; value holds no bits above count.
  void Put(uint32_t value, int count) {
    acc_ |= static_cast<uint64_t>(value) << used_;
    used_ += count;
    if (used_ >= 32) {
      for (int i = 0; i < 4; ++i)
        out_[size_++] = static_cast<uint8_t>(acc_ >> (8 * i));
      acc_ >>= 32;
      used_ -= 32;
    }
  }

  // Pads the last byte with zero bits and hands the stream over.
  std::vector<uint8_t> Finish() {
    for (; used_ > 0; used_ -= std::min(used_, 8)) {
      out_[size_++] = static_cast<uint8_t>(acc_);
      acc_ >>= 8;
    }
    out_.resize(size_);
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  size_t size_ = 0;
  uint64_t acc_ = 0;
  int used_ = 0;
};

void PutLiteral(BitWriter& bits, uint8_t value) {
  bits.Put(static_cast<uint32_t>(value) << 1, 9);
}

void PutCopy(BitWriter& bits, size_t offset, size_t length) {
  bits.Put(1u | static_cast<uint32_t>(offset) << 1, 11);
  size_t ones = (length - 1) / 8;
  for (; ones >= 32; ones -= 32)
    bits.Put(0xFFFFFFFFu, 32);
  bits.Put((1u << ones) - 1, static_cast<int>(ones));
  bits.Put(static_cast<uint32_t>((length - 1) % 8) << 1, 4);  // the closing zero, then v
}

// Number of equal leading bytes of a and b, at most limit.
size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + static_cast<size_t>(std::countr_zero(x ^ y)) / 8;
    n += 8;
  }
  while (n < limit && a[n] == b[n])
    ++n;
  return n;
}

struct Match {
  size_t length = 0;
  size_t source = 0;
};

// Hash chains over the window: head3_ holds the latest position of each three-byte hash,
// prev3_ (a ring as long as the window) links each position to the previous one with
// the same hash, last2_ holds the latest position of each byte pair.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t size, const PackOptions& options)
      : data_(data),
        size_(size),
        depth_(std::max(options.chainDepth, 1)),
        good_(std::clamp<size_t>(static_cast<size_t>(std::max(options.goodLength, 2)), 2,
                                 kMaxLength)),
        hash3Bits_(TableBits(size, kHash3Bits)),
        pairBits_(TableBits(size, kPairBits)),
        head3_(size_t{1} << hash3Bits_, -1),
        prev3_(kWindow, -1),
        last2_(size_t{1} << pairBits_, -1) {}

  // The longest copy for position p that obeys the window rules, or length 0.
  Match Find(size_t p) {
    InsertUpTo(p);
    const size_t maxLength = std::min(size_ - p, kMaxLength);
    if (maxLength < kMinLength) return {};
    const size_t windowStart = p > kWindow ? p - kWindow : 0;
    Match best;
    if (maxLength >= 3) best = SearchChain(p, windowStart, maxLength);
    if (best.length != 0 && best.length == p - best.source) best = ExtendPeriod(p, best, maxLength);
    if (best.length < kMinLength) {
      int64_t c = last2_[PairSlot(p)];
      if (c >= static_cast<int64_t>(windowStart) && p - static_cast<size_t>(c) >= kMinLength &&
          data_[c] == data_[p] && data_[c + 1] == data_[p + 1]) {
        best = {kMinLength, static_cast<size_t>(c)};
      }
    }
    if (best.length < kMinLength) return {};
    return best;
  }

  size_t GoodLength() const { return good_; }

 private:
  uint32_t Hash3(size_t p) const {
    uint32_t v = static_cast<uint32_t>(data_[p]) << 16 | static_cast<uint32_t>(data_[p + 1]) << 8 |
                 data_[p + 2];
    return (v * 2654435761u) >> (32 - hash3Bits_);
  }
  // The slot of the byte pair at p: the pair itself at full size, else a hash of it.
  uint32_t PairSlot(size_t p) const {
    const uint32_t pair = static_cast<uint32_t>(data_[p]) << 8 | data_[p + 1];
    return pairBits_ == kPairBits ? pair : (pair * 2654435761u) >> (32 - pairBits_);
  }

  void InsertUpTo(size_t p) {
    for (; inserted_ < p; ++inserted_) {
      size_t q = inserted_;
      if (q + 2 < size_) {
        uint32_t h = Hash3(q);
        prev3_[q % kWindow] = head3_[h];
        head3_[h] = static_cast<int64_t>(q);
      }
      if (q + 1 < size_) last2_[PairSlot(q)] = static_cast<int64_t>(q);
    }
  }

  Match SearchChain(size_t p, size_t windowStart, size_t maxLength) const {
    Match best;
    int64_t c = head3_[Hash3(p)];
    for (int depth = depth_; depth > 0 && c >= static_cast<int64_t>(windowStart); --depth) {
      const size_t source = static_cast<size_t>(c);
      // The copy must end where it starts at the latest, so the distance caps the length.
      const size_t limit = std::min(maxLength, p - source);
      if (limit > best.length && data_[source + best.length] == data_[p + best.length]) {
        size_t length = MatchLength(data_ + source, data_ + p, limit);
        if (length > best.length) {
          best = {length, source};
          if (length >= good_ || length == maxLength) break;
        }
      }
      c = prev3_[source % kWindow];
    }
    return best;
  }

  // A match as long as its distance hints at a period (runs of one byte, repeated
  // records). The same period further back allows a longer copy than the chain reached;
  // the period found may be a multiple of the true one, so the window's far edge is
  // tried as well.
  Match ExtendPeriod(size_t p, Match best, size_t maxLength) const {
    const size_t period = p - best.source;
    const size_t reach = std::min(p, kWindow);  // how far back the window goes
    for (size_t distance : {reach / period * period, reach}) {
      if (distance <= p - best.source) continue;
      const size_t source = p - distance;
      const size_t length = MatchLength(data_ + source, data_ + p, std::min(maxLength, distance));
      if (length > best.length) best = {length, source};
    }
    return best;
  }

  const uint8_t* data_;
  size_t size_;
  int depth_;
  size_t good_;
  int hash3Bits_;
  int pairBits_;
  std::vector<int64_t> head3_;
  std::vector<int64_t> prev3_;
  std::vector<int64_t> last2_;
  size_t inserted_ = 0;
};

// How the cheapest known path reaches a position of the block: the token that ends there.
struct Step {
  uint32_t cost = 0;    // bits from the block's start
  uint32_t length = 0;  // 1: a literal; 2 and more: a copy from source
  size_t source = 0;
};

constexpr size_t kBlock = 64 * 1024;
constexpr uint32_t kLiteralBits = 9;
uint32_t CopyBits(size_t length) {
  return 15 + static_cast<uint32_t>((length - 1) / 8);
}

// Writes the tokens of the cheapest path from the block's start (position start) to
// steps[end], front to back.
void EmitPath(BitWriter& bits, const uint8_t* data, size_t start, const std::vector<Step>& steps,
              size_t end, std::vector<size_t>& ends) {
  ends.clear();
  for (size_t r = end; r > 0; r -= steps[r].length)
    ends.push_back(r);
  size_t p = start;
  for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
    const Step& step = steps[*it];
    if (step.length == 1) {
      PutLiteral(bits, data[p]);
    } else {
      const size_t windowStart = p > kWindow ? p - kWindow : 0;
      assert(step.source >= windowStart && step.source + step.length <= p);
      PutCopy(bits, step.source - windowStart, step.length);
    }
    p += step.length;
  }
}

}  // namespace

size_t PackWindowBound(size_t size) {
  return size / 8 * 9 + (size % 8 * 9 + 7) / 8;
}

// Every token has a fixed price (9 bits a literal, 15 + (length - 1) / 8 bits a copy,
// whatever its offset), so the cheapest token sequence for the matches found is a
// shortest path: each position is reached by a literal from the one before or by a copy
// of any length up to the longest match found at an earlier position (a shorter copy
// from the same source is as valid). Blocks of kBlock bytes bound the tables; a match
// of goodLength or more is taken at once and starts a new block.
std::vector<uint8_t> PackWindow(const uint8_t* data, size_t size, const PackOptions& options) {
  BitWriter bits(PackWindowBound(size));
  MatchFinder finder(data, size, options);
  std::vector<Step> steps(std::min(size, kBlock) + 1);
  std::vector<size_t> ends;
  size_t pos = 0;
  while (pos < size) {
    const size_t limit = std::min(size - pos, kBlock);
    size_t ready = 0;  // steps[1..ready] are set up for this block
    size_t end = limit;
    Match taken;
    for (size_t r = 0; r < end; ++r) {
      for (const size_t reach = std::min(limit, r + kMaxLength); ready < reach;) {
        steps[++ready].cost = std::numeric_limits<uint32_t>::max();
      }
      const uint32_t here = steps[r].cost;
      if (here + kLiteralBits < steps[r + 1].cost) steps[r + 1] = {here + kLiteralBits, 1, 0};
      const Match match = finder.Find(pos + r);
      if (match.length >= finder.GoodLength()) {
        end = r;
        taken = match;
        break;
      }
      const size_t longest = std::min(match.length, limit - r);
      for (size_t length = kMinLength; length <= longest; ++length) {
        const uint32_t cost = here + CopyBits(length);
        if (cost < steps[r + length].cost) {
          steps[r + length] = {cost, static_cast<uint32_t>(length), match.source};
        }
      }
    }
    EmitPath(bits, data, pos, steps, end, ends);
    pos += end;
    if (taken.length != 0) {
      const size_t windowStart = pos > kWindow ? pos - kWindow : 0;
      assert(taken.source >= windowStart && taken.source + taken.length <= pos);
      PutCopy(bits, taken.source - windowStart, taken.length);
      pos += taken.length;
    }
  }
  return bits.Finish();
}

}  // namespace codec
