// End-to-end tests of what a program shows on a terminal: a child process gets a
// pseudo-terminal as some of its standard descriptors (and pipes or /dev/null as the
// others), the test reads what appears on the terminal and types the answers.
//
//   PseudoTerminal terminal;
//   OutputPipe out;
//   const pid_t child = start_child([&] {
//     if (!terminal.attach_in_child({STDIN_FILENO, STDERR_FILENO})) _exit(100);
//     if (!out.attach_in_child(STDOUT_FILENO)) _exit(100);
//     execv(...);
//   });
//   terminal.wait_for("[y/n]");
//   terminal.type("y\n");
//   const std::string printed = out.read_all();
//   terminal.drain();
//   terminal.hang_up();
//   EXPECT_EQ(exit_status(child), 0);
//
// Every wait has a timeout, so a child that never asks or never ends fails the test
// instead of hanging it.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <string>

namespace mapsweep::testing {

// How long a wait for a child's output lasts unless the test says otherwise.
inline constexpr std::chrono::milliseconds kChildPatience{10000};

// Runs `in_child` in a forked child, which is to leave by exec or _exit (a return from
// it exits with 127). Returns the child's pid, or -1 when no child could be started.
template <class InChild>
pid_t start_child(InChild&& in_child) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    in_child();
    ::_exit(127);
  }
  return pid;
}

// Waits for the child to end: its exit status, or -1 when it did not exit normally.
int exit_status(pid_t child);

// How often `part` appears in `text`, overlapping appearances counted.
std::size_t occurrences(const std::string& text, const std::string& part);

// In a forked child: /dev/null becomes descriptor `fd`, which then reads end of input.
bool attach_null_in_child(int fd);

// A pipe that collects what a child writes on one of its descriptors.
class OutputPipe {
 public:
  OutputPipe();  // throws std::runtime_error when no pipe can be made
  ~OutputPipe();
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;

  // In the forked child: the pipe becomes descriptor `fd`.
  bool attach_in_child(int fd) const;
  // In the parent, once the child runs: what was written until every writer closed the
  // pipe (the child ended) or the timeout passed.
  std::string read_all(std::chrono::milliseconds timeout = kChildPatience);

 private:
  int read_end_ = -1;
  int write_end_ = -1;
};

// A pseudo-terminal; the test holds its master side.
class PseudoTerminal {
 public:
  PseudoTerminal();  // throws std::runtime_error when no terminal can be opened
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // In the forked child: starts a session whose controlling terminal this is, and makes
  // the terminal each of `fds` (of 0, 1 and 2). False when it cannot be opened.
  bool attach_in_child(std::initializer_list<int> fds) const;

  // Everything the terminal showed so far: what the children wrote to it, and the echo of
  // what was typed.
  const std::string& screen() const { return screen_; }
  // Reads until `text` has appeared `times` times on the screen in all. False when the
  // timeout passes, or every child closes the terminal, first.
  bool wait_for(const std::string& text, std::size_t times = 1,
                std::chrono::milliseconds timeout = kChildPatience);
  // Types `bytes` as a user would; whether the terminal took them all.
  bool type(const std::string& bytes);
  // Reads what is left, until every child has closed the terminal or the timeout passes.
  void drain(std::chrono::milliseconds timeout = kChildPatience);
  // Closes the test's side, as when a terminal window is closed: a child still on the
  // terminal gets a hang-up instead of waiting for input forever.
  void hang_up();

 private:
  int master_ = -1;
  std::string slave_name_;
  std::string screen_;
};

}  // namespace mapsweep::testing
