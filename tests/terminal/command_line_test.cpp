#include "terminal/command_line.h"

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
  // Choosing printers or asking for output for scripts means no window.
  line = app::ParseCommandLine({"--device", "1-1.4", "--json", "--verbose"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.headless && line.json && line.verbose);
  EXPECT_EQ(line.device, "1-1.4");
  EXPECT_TRUE(app::ParseCommandLine({"--all"}).headless);
  line = app::ParseCommandLine({"--list", "--json"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_FALSE(line.headless);
  // --check takes a file only when one follows.
  line = app::ParseCommandLine({"--check", "a.fwp"});
  EXPECT_TRUE(line.check && line.error.empty());
  EXPECT_EQ(line.checkFile, "a.fwp");
  line = app::ParseCommandLine({"--check", "--headless"});
  EXPECT_TRUE(line.check && line.error.empty());
  EXPECT_FALSE(line.checkFile);
  for (auto args : std::vector<std::vector<std::string>>{{"--package"},
                                                         {"--make", ""},
                                                         {"--package", "a", "--make", "b"},
                                                         {"--package", "a", "--package", "b"},
                                                         {"-x"},
                                                         {"--device"},
                                                         {"--device", "a", "--all"},
                                                         {"--make", "b", "--device", "a"},
                                                         {"--list", "--all"},
                                                         {"--list", "--package", "a"},
                                                         {"--maker", "--json"},
                                                         {"--check", "a", "--package", "b"},
                                                         {"--check", "--check"}}) {
    EXPECT_FALSE(app::ParseCommandLine(args).error.empty()) << args[0];
  }
}

// An installed program: its folder is not the user's, so --maker stands in for the
// settings file.
TEST(MakerOptionTest, OpensTheWindowAndGoesWithNoOtherOption) {
  app::CommandLine line = app::ParseCommandLine({"--maker"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.maker);
  EXPECT_FALSE(line.headless);
  EXPECT_FALSE(app::ParseCommandLine({}).maker);
  for (auto args : std::vector<std::vector<std::string>>{{"--maker", "--headless"},
                                                         {"--maker", "--make", "a.fwp"},
                                                         {"--package", "a.fwp", "--maker"},
                                                         {"--maker", "--list"},
                                                         {"--maker", "--yes"}}) {
    EXPECT_FALSE(app::ParseCommandLine(args).error.empty()) << args[0] << ' ' << args[1];
  }
}

}  // namespace
}  // namespace apptest
