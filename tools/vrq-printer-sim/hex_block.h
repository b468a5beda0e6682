// The hex text of one "SETIT" block as the printer reads it: upper-case digit pairs,
// high digit first, CR LF after every 32nd byte, nothing else; it arrives in pieces that
// need not follow its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class HexBlockReader {
 public:
  static constexpr uint32_t kBytesPerLine = 32;

  // A block of length bytes: 2 * length + 2 * (length / 32) characters.
  explicit HexBlockReader(uint32_t length);

  size_t ExpectedChars() const { return expected_; }
  size_t Received() const { return received_; }
  bool Complete() const { return received_ == expected_; }

  // Takes up to size characters, never more than the block still lacks; returns how
  // many it took.
  size_t Consume(const uint8_t* data, size_t size);

  // The bytes decoded so far (a wrong digit counts as 0).
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // Sum of the decoded bytes as unsigned 8-bit values.
  int64_t Sum() const { return sum_; }
  // The first mistake in the text, empty while there is none.
  const std::string& Problem() const { return problem_; }

 private:
  void Take(uint8_t c);
  void Note(const std::string& what);

  size_t expected_;
  size_t received_ = 0;
  size_t fullLinesChars_;  // characters taken up by the lines that end in CR LF
  int high_ = 0;
  std::vector<uint8_t> bytes_;
  int64_t sum_ = 0;
  std::string problem_;
};

}  // namespace sim
