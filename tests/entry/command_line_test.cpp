// The command line: what each form of it asks for, and the Windows command tail split.
#include "entry/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "runtime/message_box.h"

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

// Command lines as people type them, and what each asks for: options alone, together and
// after "--", and the errors, each said in one line with a hint at --help.
TEST(CommandLine, CommandLinesAsTyped) {
  struct Case {
    std::vector<std::string> args;
    Action action;
    std::string flags;  // y e n v q as set, in that order
    std::string directory;
    std::string error;  // the whole error output, for kUsageError
  };
  const std::string hint = "\nTry 'mapsweep --help'.\n";
  const Case cases[] = {
      {{"-yv"}, Action::kRun, "yv", "", ""},
      {{"-nq", "games"}, Action::kRun, "nq", "games", ""},
      {{"-ynv", "--exact"}, Action::kRun, "yenv", "", ""},
      {{"--", "-yv"}, Action::kRun, "", "-yv", ""},
      {{"-y", "--", "--help"}, Action::kRun, "y", "--help", ""},
      {{"-"}, Action::kRun, "", "-", ""},
      {{"-yh"}, Action::kHelp, "", "", ""},
      {{"-q", "-v"}, Action::kUsageError, "", "",
       "mapsweep: '-q' and '-v' cannot be used together" + hint},
      {{"--verbose", "-yq"}, Action::kUsageError, "", "",
       "mapsweep: '-q' and '--verbose' cannot be used together" + hint},
      {{"-yx"}, Action::kUsageError, "", "", "mapsweep: unknown option '-x'" + hint},
      {{"--frobnicate"}, Action::kUsageError, "", "",
       "mapsweep: unknown option '--frobnicate'" + hint},
      {{"--yes=1"}, Action::kUsageError, "", "", "mapsweep: unknown option '--yes=1'" + hint},
      {{"a", "b"}, Action::kUsageError, "", "",
       "mapsweep: more than one directory given: 'b'" + hint},
      {{""}, Action::kUsageError, "", "", "mapsweep: empty directory name" + hint},
  };
  for (const Case& c : cases) {
    const CommandLine command = parse_command_line(c.args);
    std::string shown;
    for (const auto& a : c.args) shown += "[" + a + "]";
    EXPECT_EQ(command.action, c.action) << shown;
    if (c.action == Action::kUsageError) {
      EXPECT_EQ(usage_error_text(command, Language::kEnglish), c.error) << shown;
      continue;
    }
    if (c.action != Action::kRun) continue;
    std::string flags;
    if (command.yes) flags += 'y';
    if (command.exact) flags += 'e';
    if (command.dry_run) flags += 'n';
    if (command.verbose) flags += 'v';
    if (command.quiet) flags += 'q';
    EXPECT_EQ(flags, c.flags) << shown;
    EXPECT_EQ(command.directory, c.directory) << shown;
  }
}

TEST(CommandLine, AUsageErrorIsOneLineAndAHintOnTheErrorOutputInTheLanguage) {
  std::ostringstream out;
  std::ostringstream err;
  auto os = os::make_native_os();
  auto dialog = make_unshown_dialog();
  Console console;
  console.language = Language::kGerman;
  EXPECT_EQ(run_command_line(parse_command_line({"-z"}), *os, *dialog, out, err, console),
            kExitUsage);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(),
            "mapsweep: unbekannte Option '-z'\nWeitere Informationen mit 'mapsweep --help'.\n");
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
