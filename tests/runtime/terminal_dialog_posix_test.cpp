// The terminal dialog, driven through a pseudo-terminal: the box runs in a child whose
// standard input and output are the terminal, the test types the answers, and the
// child's exit status is the button the dialog returned.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/platform/os.h"

namespace {

using mapsweep::os::make_native_dialog;

constexpr char kPrompt[] = "[y/n]";
constexpr int kTimeoutMs = 5000;

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

int button_of(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t count_of(const std::string& haystack, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

// Appends what fd has to say; false at end of output, on error or after the timeout.
bool read_some(int fd, std::string& into) {
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, kTimeoutMs) <= 0) return false;
  char buffer[256];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;  // a pty master reads EIO once the child is gone
  into.append(buffer, static_cast<std::size_t>(n));
  return true;
}

// Types each line once the dialog has asked for it, then collects the rest.
DialogRun run_on_terminal(const std::string& text, const std::string& title, std::uint32_t style,
                          const std::vector<std::string>& typed) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
  const std::string slave_name = ptsname(master);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int slave = open(slave_name.c_str(), O_RDWR);
    if (slave < 0) _exit(100);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    close(master);
    show_and_exit(text, title, style);
  }
  DialogRun run;
  for (std::size_t asked = 0; asked < typed.size(); ++asked) {
    while (count_of(run.output, kPrompt) <= asked) {
      if (!read_some(master, run.output)) break;
    }
    const std::string& line = typed[asked];
    if (write(master, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
  }
  while (read_some(master, run.output)) {
  }
  run.button = button_of(pid);
  close(master);
  return run;
}

// The dialog with stdout on a pipe and stdin on /dev/null or on a terminal; whatever it
// printed, to the pipe or to the terminal, is collected.
DialogRun run_without_terminal(bool stdin_is_terminal) {
  int out[2];
  if (pipe(out) != 0) return {};
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
  const std::string slave_name = ptsname(master);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int in =
        stdin_is_terminal ? open(slave_name.c_str(), O_RDWR) : open("/dev/null", O_RDONLY);
    if (in < 0) _exit(100);
    dup2(in, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    show_and_exit("Start?", "mapsweep", 4);
  }
  close(out[1]);
  DialogRun run;
  while (read_some(out[0], run.output)) {
  }
  run.button = button_of(pid);
  close(out[0]);
  while (stdin_is_terminal && read_some(master, run.output)) {
  }
  close(master);
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
  EXPECT_EQ(count_of(run.output, kPrompt), 3u);
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

TEST(TerminalDialogTest, WithoutTerminalOnBothSidesNothingIsShown) {
  for (const bool stdin_is_terminal : {false, true}) {
    SCOPED_TRACE(stdin_is_terminal);
    const DialogRun run = run_without_terminal(stdin_is_terminal);
    EXPECT_EQ(run.button, 0);
    EXPECT_EQ(run.output, "");
  }
}

}  // namespace
