#include <iostream>

#include "platform/standard_streams.h"
#include "tools/fwp-tool/fwp_tool.h"

int main(int argc, char** argv) {
  // A closed pipe (fwp-tool list ... | head) ends no extract half way.
  platform::IgnoreBrokenPipes();
  std::vector<std::string> args(argv + 1, argv + argc);
  return fwptool::Run(args, std::cout, std::cerr);
}
