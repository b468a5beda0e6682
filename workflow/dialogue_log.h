// A listener to the printer dialogue, for output that shows everything (--verbose):
// every command line sent, every reply byte received, and notes on what else happened
// (a data block summarised, the printer opened or closed).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

class DialogueLog {
 public:
  virtual ~DialogueLog() = default;
  // A command line went out; result is the write's (bytes written, 0 or -1).
  virtual void Sent(std::string_view line, int32_t result) = 0;
  // Reply bytes came in, as they came.
  virtual void Received(std::string_view bytes) = 0;
  virtual void Note(const std::string& text) = 0;
};

}  // namespace app
