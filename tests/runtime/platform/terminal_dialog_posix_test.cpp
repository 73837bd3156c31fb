// The terminal dialog, driven through a pseudo-terminal: the box runs in a child whose
// standard input and output are the terminal, the test types the answers, and the
// child's exit status is the button the dialog returned.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/platform/os.h"
#include "support/pseudo_terminal_posix.h"

namespace {

using mapsweep::os::make_native_dialog;
using mapsweep::testing::exit_status;
using mapsweep::testing::occurrences;
using mapsweep::testing::OutputPipe;
using mapsweep::testing::PseudoTerminal;
using mapsweep::testing::start_child;

constexpr char kPrompt[] = "[y/n]";

struct DialogRun {
  int button = -1;  // the child's exit status, or -1 when it did not exit normally
  std::string output;
};

// In the child: show the box on whatever fds 0 and 1 now are, and exit with its answer.
// The alarm ends a child that waits for input it will never get.
[[noreturn]] void show_and_exit(const std::string& text, const std::string& title,
                                std::uint32_t style) {
  alarm(10);
  _exit(make_native_dialog()->show(text, title, style));
}

// Types each line once the dialog has asked for it, then collects the rest.
DialogRun run_on_terminal(const std::string& text, const std::string& title, std::uint32_t style,
                          const std::vector<std::string>& typed) {
  PseudoTerminal terminal;
  const pid_t child = start_child([&] {
    if (!terminal.attach_in_child({STDIN_FILENO, STDOUT_FILENO})) _exit(100);
    show_and_exit(text, title, style);
  });
  for (std::size_t asked = 0; asked < typed.size(); ++asked) {
    terminal.wait_for(kPrompt, asked + 1);
    if (!terminal.type(typed[asked])) break;
  }
  terminal.drain();
  return {exit_status(child), terminal.screen()};
}

// The dialog with stdout on a pipe and stdin on /dev/null: what it printed to the pipe.
DialogRun run_without_terminal() {
  OutputPipe out;
  const pid_t child = start_child([&] {
    if (!mapsweep::testing::attach_null_in_child(STDIN_FILENO) ||
        !out.attach_in_child(STDOUT_FILENO)) {
      _exit(100);
    }
    show_and_exit("Start?", "mapsweep", 4);
  });
  DialogRun run;
  run.output = out.read_all();
  run.button = exit_status(child);
  return run;
}

TEST(TerminalDialogTest, YesNoAnswersAreReadFromTheTerminal) {
  struct Case {
    std::vector<std::string> typed;
    int button;
  };
  for (const Case& c : {Case{{"n\n"}, 7}, Case{{"yes\n"}, 6}, Case{{"  JA \t\n"}, 6},
                        Case{{"Nein\n"}, 7}, Case{{"no\n"}, 7}, Case{{"Y\n"}, 6}}) {
    SCOPED_TRACE(c.typed.front());
    const DialogRun run = run_on_terminal("Start?", "mapsweep", 4, c.typed);
    EXPECT_EQ(run.button, c.button);
    EXPECT_NE(run.output.find("mapsweep"), std::string::npos);
    EXPECT_NE(run.output.find("Start?"), std::string::npos);
  }
}

TEST(TerminalDialogTest, UnknownAnswerAsksAgain) {
  const DialogRun run = run_on_terminal("Start?", "mapsweep", 4, {"maybe\n", "yesno\n", "j\n"});
  EXPECT_EQ(run.button, 6);
  EXPECT_EQ(occurrences(run.output, kPrompt), 3u);
}

TEST(TerminalDialogTest, EndOfInputAnswersNo) {
  const DialogRun run = run_on_terminal("Start?", "mapsweep", 4, {"\x04"});  // Ctrl-D
  EXPECT_EQ(run.button, 7);
}

TEST(TerminalDialogTest, OkBoxPrintsTheTextAndReturnsWithoutWaiting) {
  const DialogRun run = run_on_terminal("first\n\rsecond", "Programmende", 0, {});
  EXPECT_EQ(run.button, 1);
  EXPECT_NE(run.output.find("Programmende"), std::string::npos);
  // The terminal turns each line break into CR LF: one break, not two, and no stray CR.
  EXPECT_NE(run.output.find("first\r\nsecond"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(kPrompt), std::string::npos);
}

TEST(TerminalDialogTest, ControlBytesInTheTextNeverReachTheTerminal) {
  const DialogRun run = run_on_terminal("clear\x1b[2J\x07", "t\x1bitle", 0, {});
  EXPECT_EQ(run.button, 1);
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
  EXPECT_EQ(run.output.find('\x07'), std::string::npos);
  EXPECT_NE(run.output.find("clear?[2J?"), std::string::npos) << run.output;
}

TEST(TerminalDialogTest, WithoutATerminalOnStandardInputNothingIsShown) {
  const DialogRun run = run_without_terminal();
  EXPECT_EQ(run.button, 0);
  EXPECT_EQ(run.output, "");
}

TEST(TerminalDialogTest, AsksOnTheTerminalWhateverStandardOutputGoesTo) {
  PseudoTerminal terminal;
  OutputPipe out;
  const pid_t child = start_child([&] {
    if (!terminal.attach_in_child({STDIN_FILENO}) || !out.attach_in_child(STDOUT_FILENO)) {
      _exit(100);
    }
    show_and_exit("Start?", "mapsweep", 4);
  });
  ASSERT_TRUE(terminal.wait_for(kPrompt)) << terminal.screen();
  terminal.type("y\n");
  EXPECT_EQ(out.read_all(), "");
  terminal.drain();
  EXPECT_EQ(exit_status(child), 6);
  EXPECT_NE(terminal.screen().find("Start?"), std::string::npos);
}

}  // namespace
