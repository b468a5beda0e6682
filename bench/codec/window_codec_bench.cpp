// UnpackWindow against zlib's inflate on the same 16 MiB of mixed data, each stream made
// by its own encoder (ours; deflate at levels 6 and 9). Rates are bytes of output.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "codec/_lib_kbtapp.h"
#include "codec/window_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kDataSize = 16 << 20;

// Deterministic data shaped like what update packages carry: prose and configuration
// text, Thumb-like machine code with literal pools, numeric tables, glyph bitmaps,
// erased-flash padding, and some incompressible bytes.
class MixedData {
 public:
  Bytes Make(size_t size) {
    MakeVocabulary();
    while (out_.size() < size) {
      const size_t length = 4096 + rng_() % (60 * 1024);
      const unsigned kind = rng_() % 100;
      if (kind < 40) {
        Text(length);
      } else if (kind < 70) {
        Code(length);
      } else if (kind < 80) {
        Tables(length);
      } else if (kind < 90) {
        Glyphs(length);
      } else if (kind < 95) {
        Noise(length);
      } else {
        out_.insert(out_.end(), length, 0xFF);
      }
    }
    out_.resize(size);
    return std::move(out_);
  }

 private:
  void MakeVocabulary() {
    static const char* const kSyllables[] = {"pri", "nt",  "er", "la",  "bel", "com", "man", "d",
                                             "on",  "the", "of", "ing", "re",  "ca",  "ti",  "ve",
                                             "st",  "at",  "us", "ed",  "in",  "ro",  "fl",  "ash"};
    for (int i = 0; i < 1500; ++i) {
      std::string word;
      for (unsigned n = 1 + rng_() % 3; n > 0; --n)
        word += kSyllables[rng_() % 24];
      words_.push_back(word);
      weights_.push_back(1.0 / (i + 1));  // Zipf-like: few words are most of the text
    }
  }

  void Put(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }

  void Text(size_t length) {
    std::discrete_distribution<size_t> pick(weights_.begin(), weights_.end());
    const size_t end = out_.size() + length;
    while (out_.size() < end) {
      if (rng_() % 4 == 0) {  // a configuration line
        Put(words_[pick(rng_)] + "." + words_[pick(rng_)] + " = " + std::to_string(rng_() % 5000) +
            "\r\n");
        continue;
      }
      std::string sentence = words_[pick(rng_)];
      sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
      for (unsigned n = 4 + rng_() % 12; n > 0; --n)
        sentence += " " + words_[pick(rng_)];
      Put(sentence + (rng_() % 3 == 0 ? ".\r\n" : ". "));
    }
  }

  void Code(size_t length) {
    // Common 16-bit instruction forms; the low bits hold registers and small immediates.
    static const uint16_t kForms[] = {0x6800, 0x6000, 0x2000, 0x4600, 0x1C00, 0xB500, 0xBD00,
                                      0xF000, 0xD000, 0xE000, 0x4770, 0x3000, 0x2800, 0x4280};
    const size_t end = out_.size() + length;
    while (out_.size() < end) {
      for (unsigned n = 8 + rng_() % 40; n > 0; --n) {
        const uint16_t form = kForms[std::min<unsigned>(rng_() % 20, 13)];
        const uint16_t word = form | static_cast<uint16_t>(rng_() % 64);
        out_.push_back(static_cast<uint8_t>(word));
        out_.push_back(static_cast<uint8_t>(word >> 8));
      }
      for (unsigned n = rng_() % 4; n > 0; --n) {  // literal pool: nearby addresses
        const uint32_t address = (rng_() % 2 ? 0x08000000u : 0x20000000u) + rng_() % 0x4000 * 4;
        for (int i = 0; i < 4; ++i)
          out_.push_back(static_cast<uint8_t>(address >> (8 * i)));
      }
    }
  }

  void Tables(size_t length) {
    const size_t end = out_.size() + length;
    const double step = 0.001 + (rng_() % 100) / 1000.0;
    for (double x = 0; out_.size() < end; x += step) {
      const auto value = static_cast<int16_t>(std::lround(std::sin(x) * 12000));
      out_.push_back(static_cast<uint8_t>(value));
      out_.push_back(static_cast<uint8_t>(value >> 8));
    }
  }

  void Glyphs(size_t length) {
    const size_t end = out_.size() + length;
    while (out_.size() < end) {
      uint16_t rows[16] = {};
      for (unsigned strokes = 2 + rng_() % 4; strokes > 0; --strokes) {
        const unsigned a = rng_() % 16, b = rng_() % 16;
        if (rng_() % 2) {
          rows[a] |= static_cast<uint16_t>(((1u << (1 + b % 12)) - 1) << (rng_() % 4));
        } else {
          for (unsigned r = std::min(a, b); r <= std::max(a, b); ++r)
            rows[r] |= 1u << (b % 14 + 1);
        }
      }
      for (uint16_t row : rows) {
        out_.push_back(static_cast<uint8_t>(row >> 8));
        out_.push_back(static_cast<uint8_t>(row));
      }
    }
  }

  void Noise(size_t length) {
    for (size_t i = 0; i < length; ++i)
      out_.push_back(static_cast<uint8_t>(rng_()));
  }

  std::mt19937 rng_{20240501};
  std::vector<std::string> words_;
  std::vector<double> weights_;
  Bytes out_;
};

struct Streams {
  Bytes data;
  Bytes window;  // followed by 512 zero bytes, as the package reader lays it out
  size_t windowSize = 0;
  Bytes deflate6, deflate9;

  Streams() : data(MixedData().Make(kDataSize)) {
    window = codec::PackWindow(data.data(), data.size());
    windowSize = window.size();
    window.resize(windowSize + 512, 0);
    deflate6 = Deflate(6);
    deflate9 = Deflate(9);
  }

  Bytes Deflate(int level) const {
    uLongf size = compressBound(data.size());
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), data.size(), level) != Z_OK) return {};
    out.resize(size);
    return out;
  }
};

const Streams& Shared() {
  static const Streams streams;
  return streams;
}

void BM_UnpackWindow(benchmark::State& state) {
  const Streams& s = Shared();
  Bytes out(s.data.size() + 512, 0);
  const auto capacity = static_cast<int32_t>(out.size());
  for (auto _ : state) {
    int32_t produced = codec::UnpackWindow(s.window.data(), static_cast<int32_t>(s.windowSize),
                                           out.data(), capacity);
    benchmark::DoNotOptimize(produced);
  }
  if (!std::equal(s.data.begin(), s.data.end(), out.begin())) state.SkipWithError("bad output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.data.size()));
  state.counters["packed_%"] = 100.0 * static_cast<double>(s.windowSize) / s.data.size();
}

void Inflate(benchmark::State& state, const Bytes& stream) {
  const Streams& s = Shared();
  Bytes out(s.data.size());
  for (auto _ : state) {
    uLongf size = out.size();
    int result = uncompress(out.data(), &size, stream.data(), stream.size());
    benchmark::DoNotOptimize(result);
  }
  if (out != s.data) state.SkipWithError("bad output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.data.size()));
  state.counters["packed_%"] = 100.0 * static_cast<double>(stream.size()) / s.data.size();
}

void BM_ZlibInflateLevel6(benchmark::State& state) {
  Inflate(state, Shared().deflate6);
}
void BM_ZlibInflateLevel9(benchmark::State& state) {
  Inflate(state, Shared().deflate9);
}

void BM_PackWindow(benchmark::State& state) {
  const Streams& s = Shared();
  const size_t size = 1 << 20;  // one MiB of the same data keeps the run short
  for (auto _ : state) {
    Bytes stream = codec::PackWindow(s.data.data(), size);
    benchmark::DoNotOptimize(stream.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

BENCHMARK(BM_UnpackWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateLevel6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateLevel9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackWindow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::RunWithRatios(
      argc, argv,
      {{"BM_UnpackWindow", "BM_ZlibInflateLevel6"}, {"BM_UnpackWindow", "BM_ZlibInflateLevel9"}});
}
