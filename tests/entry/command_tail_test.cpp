// The command tail taken from a Windows command line, before it is split into arguments.
#include "entry/command_tail.h"

#include <gtest/gtest.h>

#include "entry/command_line.h"

namespace mapsweep {
namespace {

TEST(CommandTail, UnquotedProgramNameEndsAtTheFirstBlankOrControlByte) {
  EXPECT_EQ(command_tail("mapsweep.exe --yes C:\\Games"), "--yes C:\\Games");
  EXPECT_EQ(command_tail("mapsweep.exe\t \t-y"), "-y");
  // A control byte ends the name but is no blank: it stays in the tail.
  EXPECT_EQ(command_tail("mapsweep.exe\x01rest"), "\x01rest");
  EXPECT_EQ(command_tail("mapsweep.exe"), "");
  EXPECT_EQ(command_tail("mapsweep.exe   "), "");
  EXPECT_EQ(command_tail(""), "");
  // A letter above 127 belongs to the name; it is no control byte.
  EXPECT_EQ(command_tail("C:\\Spiele\\map\xe4.exe DIR"), "DIR");
}

TEST(CommandTail, QuotedProgramNameEndsAtTheNextQuote) {
  EXPECT_EQ(command_tail("\"C:\\Program Files\\mapsweep.exe\" --yes \"D:\\my games\""),
            "--yes \"D:\\my games\"");
  EXPECT_EQ(command_tail("\"C:\\a b\\mapsweep.exe\""), "");
  // Whatever sticks to the closing quote is already the tail.
  EXPECT_EQ(command_tail("\"prog\"x y"), "x y");
  // A quoted name that never closes leaves no tail.
  EXPECT_EQ(command_tail("\"C:\\a b\\mapsweep.exe --yes"), "");
}

TEST(CommandTail, TailSplitsIntoTheArgumentsTheParserExpects) {
  const CommandLine command = parse_command_line(
      split_command_tail(command_tail("\"C:\\x y\\mapsweep.exe\"  -y \"D:\\my games\"")));
  EXPECT_EQ(command.action, CommandLine::Action::kRun);
  EXPECT_TRUE(command.yes);
  EXPECT_EQ(command.directory, "D:\\my games");
}

}  // namespace
}  // namespace mapsweep
