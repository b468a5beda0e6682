// How the desktop's settings become the window's one scale factor.
#include "window/scale_factor.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using app::ScaleFactorFor;

TEST(ScaleFactor, XftDpiOver96RoundedToAQuarter) {
  EXPECT_EQ(ScaleFactorFor(nullptr, std::nullopt), 1.0);
  EXPECT_EQ(ScaleFactorFor(nullptr, 96.0), 1.0);
  EXPECT_EQ(ScaleFactorFor(nullptr, 120.0), 1.25);
  EXPECT_EQ(ScaleFactorFor(nullptr, 144.0), 1.5);
  EXPECT_EQ(ScaleFactorFor(nullptr, 192.0), 2.0);
  // 1.354 and 1.396: to the nearest quarter.
  EXPECT_EQ(ScaleFactorFor(nullptr, 130.0), 1.25);
  EXPECT_EQ(ScaleFactorFor(nullptr, 134.0), 1.5);
}

// Never smaller than the design, never so large that the window leaves the screen.
TEST(ScaleFactor, StaysBetweenOneAndFour) {
  EXPECT_EQ(ScaleFactorFor(nullptr, 72.0), 1.0);
  EXPECT_EQ(ScaleFactorFor(nullptr, 0.0), 1.0);
  EXPECT_EQ(ScaleFactorFor(nullptr, -192.0), 1.0);
  EXPECT_EQ(ScaleFactorFor(nullptr, 960.0), 4.0);
  EXPECT_EQ(ScaleFactorFor("0.5", std::nullopt), 1.0);
  EXPECT_EQ(ScaleFactorFor("10", std::nullopt), 4.0);
}

TEST(ScaleFactor, TheEnvironmentWinsWhenItHoldsANumber) {
  EXPECT_EQ(ScaleFactorFor("2", 96.0), 2.0);
  EXPECT_EQ(ScaleFactorFor("1.6", 192.0), 1.5);
  EXPECT_EQ(ScaleFactorFor("1", 192.0), 1.0);
  for (const char* text : {"", "two", "2x", " 2", "0", "-1.5", "nan", "inf"}) {
    EXPECT_EQ(ScaleFactorFor(text, 144.0), 1.5) << '"' << text << '"';
  }
}

}  // namespace
