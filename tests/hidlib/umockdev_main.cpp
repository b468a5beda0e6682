// Test main for the tests that use the emulated printer: they run under umockdev's preload.
#include <gtest/gtest.h>

#include "tests/hidlib/hid_emulator.h"

int main(int argc, char** argv) {
  hidtest::ReexecUnderUmockdev(argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
