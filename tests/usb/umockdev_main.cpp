// gtest main for tests that need the emulated device tree: restarts the test program
// under the umockdev preload first.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/vrq-printer-sim/printer_bed.h"

int main(int argc, char** argv) {
  std::string error;
  if (!sim::EnsureUmockdevPreload(argv, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
