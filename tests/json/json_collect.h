// Keeps the JSON that a test made the program's own code print, so that one test at the
// end of the suite (json.collected) checks every object against docs/outcome.schema.json.
// Each call writes a file of its own into the folder $JSON_COLLECT names (set by CTest):
// one object per line, or one array. Without JSON_COLLECT nothing is kept.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace jsoncollect {

inline void Collect(const std::string& text) {
  const char* folder = std::getenv("JSON_COLLECT");
  if (folder == nullptr || *folder == '\0' || text.empty()) return;
  static int count = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name()
                                     : std::string("unit");
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const std::string path = std::string(folder) + "/" + name + "." + std::to_string(getpid()) + "." +
                           std::to_string(++count) + ".json";
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace jsoncollect
