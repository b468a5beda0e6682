#include "terminal/command_line.h"

#include <gtest/gtest.h>

namespace apptest {
namespace {

TEST(CommandLineTest, OptionsAndTheirMistakes) {
  app::CommandLine line = app::ParseCommandLine({"--package", "a.fwp", "--yes"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.Headless());
  EXPECT_TRUE(line.yes);
  EXPECT_EQ(line.package, "a.fwp");

  line = app::ParseCommandLine({"--make", "b.fwp"});
  EXPECT_TRUE(line.Headless());
  EXPECT_EQ(line.make, "b.fwp");

  EXPECT_FALSE(app::ParseCommandLine({}).Headless());
  // Choosing printers or asking for output for scripts means no window.
  line = app::ParseCommandLine({"--device", "1-1.4", "--json", "--verbose"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.Headless() && line.json && line.verbose);
  EXPECT_EQ(line.device, "1-1.4");
  EXPECT_TRUE(app::ParseCommandLine({"--all"}).Headless());
  line = app::ParseCommandLine({"--list", "--json"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_FALSE(line.Headless());
  // --check takes a file only when one follows.
  line = app::ParseCommandLine({"--check", "a.fwp"});
  EXPECT_TRUE(line.mode == app::Mode::kCheck && line.error.empty());
  EXPECT_EQ(line.checkFile, "a.fwp");
  line = app::ParseCommandLine({"--check", "--headless"});
  EXPECT_TRUE(line.mode == app::Mode::kCheck && line.error.empty());
  EXPECT_FALSE(line.checkFile);
  line = app::ParseCommandLine({"--check", "a.fwp", "--json"});
  EXPECT_TRUE(line.mode == app::Mode::kCheck && line.error.empty() && line.json);
  // The maker alone takes a package with warnings, when told so.
  line = app::ParseCommandLine({"--make", "b.fwp", "--allow-warnings", "--json"});
  EXPECT_TRUE(line.mode == app::Mode::kMake && line.error.empty() && line.allowWarnings);
  EXPECT_FALSE(app::ParseCommandLine({"--make", "b.fwp"}).allowWarnings);
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
                                                         {"--check", "--check"},
                                                         {"--package", "a", "--allow-warnings"},
                                                         {"--check", "--allow-warnings"}}) {
    EXPECT_FALSE(app::ParseCommandLine(args).error.empty()) << args[0];
  }
}

// One table of options read by getopt_long: values after "=" too, "--" ends the options,
// short names for the common ones; and one mode, decided from all of them.
TEST(CommandLineTest, OneTableOfOptionsAndOneModeDecidedOnce) {
  app::CommandLine line = app::ParseCommandLine({"--package=a.fwp", "-y", "--device=1-1.4"});
  EXPECT_TRUE(line.error.empty()) << line.error;
  EXPECT_EQ(line.mode, app::Mode::kUpdate);
  EXPECT_EQ(line.package, "a.fwp");
  EXPECT_EQ(line.device, "1-1.4");
  EXPECT_TRUE(line.yes);
  EXPECT_EQ(app::ParseCommandLine({"-h"}).mode, app::Mode::kHelp);
  EXPECT_EQ(app::ParseCommandLine({"--package", "a", "-V"}).mode, app::Mode::kVersion);
  EXPECT_EQ(app::ParseCommandLine({"--check", "--", "-odd.fwp"}).checkFile, "-odd.fwp");
  EXPECT_EQ(app::ParseCommandLine({"--headless"}).mode, app::Mode::kUpdate);
  EXPECT_EQ(app::ParseCommandLine({"--yes"}).mode, app::Mode::kWindow);
  EXPECT_EQ(app::ParseCommandLine({"--all", "--package", "a"}).mode, app::Mode::kAll);
  EXPECT_EQ(app::ParseCommandLine({"--list"}).mode, app::Mode::kList);
  EXPECT_EQ(app::ParseCommandLine({"--make", "a", "--json"}).mode, app::Mode::kMake);
  for (auto args : std::vector<std::vector<std::string>>{
           {"a.fwp"}, {"--package", "a", "--", "b"}, {"--make="}, {"--yes=1"}, {"-Y"}}) {
    EXPECT_FALSE(app::ParseCommandLine(args).error.empty()) << args[0];
  }
}

// An installed program: its folder is not the user's, so --maker stands in for the
// settings file.
TEST(MakerOptionTest, OpensTheWindowAndGoesWithNoOtherOption) {
  app::CommandLine line = app::ParseCommandLine({"--maker"});
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.mode == app::Mode::kMakerWindow);
  EXPECT_FALSE(line.Headless());
  EXPECT_FALSE(app::ParseCommandLine({}).mode == app::Mode::kMakerWindow);
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
