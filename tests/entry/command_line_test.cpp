// The command line: what each form of it asks for, and the Windows command tail split.
#include "entry/command_line.h"

#include <gtest/gtest.h>

namespace mapsweep {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, NoArgumentsRunsTheInteractiveProgramHere) {
  const CommandLine command = parse_command_line({});
  EXPECT_EQ(command.action, Action::kRun);
  EXPECT_FALSE(command.yes);
  EXPECT_EQ(command.directory, "");
}

TEST(CommandLine, YesAndADirectoryInEitherOrder) {
  for (const auto& args :
       {std::vector<std::string>{"-y", "games"}, std::vector<std::string>{"games", "--yes"}}) {
    const CommandLine command = parse_command_line(args);
    EXPECT_EQ(command.action, Action::kRun);
    EXPECT_TRUE(command.yes);
    EXPECT_EQ(command.directory, "games");
  }
}

TEST(CommandLine, HelpAndVersionWinOverEverythingElse) {
  EXPECT_EQ(parse_command_line({"--yes", "--help"}).action, Action::kHelp);
  EXPECT_EQ(parse_command_line({"-h"}).action, Action::kHelp);
  EXPECT_EQ(parse_command_line({"--version", "dir"}).action, Action::kVersion);
}

TEST(CommandLine, UnknownOptionsAndSecondDirectoriesAreUsageErrors) {
  const CommandLine unknown = parse_command_line({"--force"});
  EXPECT_EQ(unknown.action, Action::kUsageError);
  EXPECT_EQ(unknown.error_subject, "--force");
  EXPECT_EQ(parse_command_line({"a", "b"}).action, Action::kUsageError);
  EXPECT_EQ(parse_command_line({""}).action, Action::kUsageError);
}

TEST(CommandLine, DoubleDashLetsADirectoryStartWithADash) {
  const CommandLine command = parse_command_line({"--", "-games"});
  EXPECT_EQ(command.action, Action::kRun);
  EXPECT_EQ(command.directory, "-games");
}

TEST(CommandTail, BlanksSeparateAndDoubleQuotesGroup) {
  EXPECT_EQ(split_command_tail(""), std::vector<std::string>{});
  EXPECT_EQ(split_command_tail("  --yes   C:\\Games  "),
            (std::vector<std::string>{"--yes", "C:\\Games"}));
  EXPECT_EQ(split_command_tail("-y \"C:\\My Games\""),
            (std::vector<std::string>{"-y", "C:\\My Games"}));
  EXPECT_EQ(split_command_tail("\"\""), std::vector<std::string>{""});
}

}  // namespace
}  // namespace mapsweep
