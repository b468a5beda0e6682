// The exported functions that need no device.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "hidlib/JXUsbHid.h"

namespace {

TEST(JXUsbHidExportsTest, VersionIsCopiedOnlyIntoABufferThatHoldsIt) {
  EXPECT_EQ(hidusbGetVersion(nullptr, 0), 7);

  char small[6];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(hidusbGetVersion(small, sizeof small), 0);
  EXPECT_EQ(std::count(small, small + sizeof small, 'x'), 6);
  EXPECT_EQ(hidusbGetVersion(small, -1), 0);

  char exact[8];
  std::memset(exact, 'x', sizeof exact);
  EXPECT_EQ(hidusbGetVersion(exact, 7), 7);
  EXPECT_EQ(std::string(exact, 8), "2.0.0.0x");  // no terminator, nothing beyond size

  char roomy[16];
  std::memset(roomy, 'x', sizeof roomy);
  EXPECT_EQ(hidusbGetVersion(roomy, sizeof roomy), 7);
  EXPECT_EQ(std::string(roomy, sizeof roomy), std::string("2.0.0.0") + std::string(9, '\0'));
}

TEST(JXUsbHidExportsTest, TheScratchBufferAddressIsPointerSizedAndStable) {
  static_assert(std::is_same_v<decltype(hidusbGetHandle(0, 0)), intptr_t>);
  const intptr_t address = hidusbGetHandle(0, 0);
  ASSERT_NE(address, 0);
  EXPECT_EQ(hidusbGetHandle(12345, 0), address);
  const auto* scratch = reinterpret_cast<const unsigned char*>(address);
  EXPECT_TRUE(std::all_of(scratch, scratch + 1024 * 1024, [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(hidusbGetHandle(0, 1), 0);
  EXPECT_EQ(hidusbGetHandle(0, 2), 0);
  EXPECT_EQ(hidusbGetHandle(0, -1), 0);
}

TEST(JXUsbHidExportsTest, NothingWorksWithoutAnOpenDevice) {
  const int self = ::getpid();
  unsigned char buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(hidusbIsOpened(self), 0);
  EXPECT_EQ(hidusbReadData(self, buffer, sizeof buffer), 0);
  EXPECT_EQ(hidusbWriteData(self, buffer, sizeof buffer), 0);
  EXPECT_EQ(hidusbReadData(0, buffer, sizeof buffer), 0);
  EXPECT_EQ(hidusbClose(0), 0);
}

}  // namespace
