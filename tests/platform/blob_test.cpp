#include "platform/blob.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

TEST(BlobTest, EmbeddedFilesAreFoundByTypeAndName) {
  std::ifstream file(VRQ_TEST_BLOB, std::ios::binary);
  std::string expected((std::istreambuf_iterator<char>(file)), {});
  auto blob = platform::FindBlob("test", "sample");
  ASSERT_TRUE(blob.has_value());
  EXPECT_EQ(std::string(blob->begin(), blob->end()), expected);
  EXPECT_FALSE(platform::FindBlob("test", "other").has_value());
  EXPECT_FALSE(platform::FindBlob("rc_dll", "dll").has_value());
}

}  // namespace
