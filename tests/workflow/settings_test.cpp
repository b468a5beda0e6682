#include "workflow/settings.h"

#include <gtest/gtest.h>

#include <fstream>

#include "scratch_dir.h"

namespace {

using app::ParseSettingInt;
using app::ProfileString;

TEST(Settings, FileNameFollowsTheExecutable) {
  EXPECT_EQ(app::SettingsPathFor("/opt/vrq/vrq-update"), "/opt/vrq/vrq-update.ini");
  EXPECT_EQ(app::SettingsPathFor("/opt/vrq/pkg.run"), "/opt/vrq/pkg.ini");
  EXPECT_EQ(app::SettingsPathFor("/opt/v1.2/tool"), "/opt/v1.2/tool.ini");
  EXPECT_EQ(app::SettingsPathFor("/a/b.c.run"), "/a/b.c.ini");
}

TEST(Settings, ProfileLookupRules) {
  const std::string text =
      "; comment\r\n"
      "[other]\r\n"
      "MAKE=9\r\n"
      "[ main ]\r\n"
      "  ; MAKE=7\r\n"
      "make =  1  \r\n"
      "MAKE=2\r\n"
      "quoted=\" spaced \"\r\n"
      "single='x'\r\n"
      "lone=\"\r\n"
      "empty=\r\n";
  EXPECT_EQ(ProfileString(text, "MAIN", "MAKE", "d"), "1");  // first match, case ignored
  EXPECT_EQ(ProfileString(text, "main", "quoted", "d"), " spaced ");
  EXPECT_EQ(ProfileString(text, "main", "single", "d"), "x");
  EXPECT_EQ(ProfileString(text, "main", "lone", "d"), "\"");
  EXPECT_EQ(ProfileString(text, "main", "empty", "d"), "");
  EXPECT_EQ(ProfileString(text, "main", "missing", "d"), "d");
  EXPECT_EQ(ProfileString(text, "absent", "MAKE", "d"), "d");
  EXPECT_EQ(ProfileString("[M]\nK=" + std::string(5000, 'z'), "M", "K", "").size(), 2047u);
}

TEST(Settings, WholeNumbers) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"1", true, 1},
      {"-1", true, -1},
      {"0x10", true, 16},
      {"0X1f", true, 31},
      {"$1", true, 1},
      {"$FFFFFFFF", true, -1},
      {"+7", true, 7},
      {"-$10", true, -16},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"yes", false, 0},
      {"", false, 0},
      {"0x", false, 0},
      {"$", false, 0},
      {"1 2", false, 0},
      {"$123456789", false, 0},
      {"-", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 12345;
    EXPECT_EQ(ParseSettingInt(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(Settings, ReadBoolFromAFile) {
  ScratchDir dir;
  const std::string ini = dir / "tool.ini";
  auto write = [&](const std::string& text) { std::ofstream(ini, std::ios::trunc) << text; };

  EXPECT_FALSE(app::ReadSettingBool(ini, "MAIN", "MAKE", false));  // no file: the default
  EXPECT_TRUE(app::ReadSettingBool(ini, "MAIN", "MAKE", true));
  write("[main]\nmake=1\n");
  EXPECT_TRUE(app::ReadSettingBool(ini, "MAIN", "MAKE", false));
  write("[MAIN]\nMAKE= 2 \n");
  EXPECT_TRUE(app::ReadSettingBool(ini, "MAIN", "MAKE", false));
  write("[MAIN]\nMAKE=yes\n");
  EXPECT_FALSE(app::ReadSettingBool(ini, "MAIN", "MAKE", false));
  write("[MAIN]\nMAKE=0\n");
  EXPECT_FALSE(app::ReadSettingBool(ini, "MAIN", "MAKE", true));
  write("\xEF\xBB\xBF[MAIN]\r\nMAKE=0x10\r\n");
  EXPECT_TRUE(app::ReadSettingBool(ini, "MAIN", "MAKE", false));
}

}  // namespace
