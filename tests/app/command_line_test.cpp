#include "app/command_line.h"

#include <gtest/gtest.h>

namespace apptest {
namespace {

TEST(CommandLineTest, OptionsAndTheirMistakes) {
  app::CommandLine line = app::ParseCommandLine({"--package", "a.fwp", "--yes"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.headless);
  EXPECT_TRUE(line.yes);
  EXPECT_EQ(line.package, "a.fwp");

  line = app::ParseCommandLine({"--make", "b.fwp"});
  EXPECT_TRUE(line.headless);
  EXPECT_EQ(line.make, "b.fwp");

  EXPECT_FALSE(app::ParseCommandLine({}).headless);
  for (auto args : std::vector<std::vector<std::string>>{{"--package"},
                                                         {"--make", ""},
                                                         {"--package", "a", "--make", "b"},
                                                         {"--package", "a", "--package", "b"},
                                                         {"-x"}}) {
    EXPECT_FALSE(app::ParseCommandLine(args).error.empty()) << args[0];
  }
}

}  // namespace
}  // namespace apptest
