#include <iostream>

#include "tools/fwp-tool/fwp_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return fwptool::Run(args, std::cout, std::cerr);
}
