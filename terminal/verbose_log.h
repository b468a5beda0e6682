// --verbose: the printer dialogue as lines for standard error, each after the seconds
// since the program began. "->" a command line sent, "<-" reply bytes as they came,
// "--" a note (a data block summarised, the printer opened or closed, no sleep lock).
// Data blocks are never dumped.
//
//   [    0.412] -> CONNECT\r\n
//   [    0.437] <- Connect Success!\r\n
//   [    9.050] -- font block: offset 0, 131072 bytes, sum 16711680, ...
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "workflow/clock.h"
#include "workflow/dialogue_log.h"

namespace app {

class VerboseLog final : public DialogueLog {
 public:
  // sink: writes one finished line (without its line break).
  VerboseLog(Clock& clock, std::function<void(const std::string&)> sink);

  void Sent(std::string_view line, int32_t result) override;
  void Received(std::string_view bytes) override;
  void Note(const std::string& text) override;

 private:
  void Line(std::string_view mark, const std::string& text);

  Clock& clock_;
  std::function<void(const std::string&)> sink_;
  uint64_t startMs_;
};

}  // namespace app
