// The POSIX entry: the arguments as given, the terminal as the dialog, the language the
// locale variables ask for, and on a terminal a status line and the summary on the error
// output.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/messages.h"
#include "entry/command_line.h"
#include "entry/status_line.h"

namespace {

std::size_t terminal_columns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto os = mapsweep::os::make_native_os();
  auto dialog = mapsweep::os::make_native_dialog();
  mapsweep::StatusLine status_line(std::cerr, std::chrono::steady_clock::now, terminal_columns);
  mapsweep::Console console;
  console.language = mapsweep::language_from_locale(std::getenv("LC_ALL"),
                                                    std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  console.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
  if (console.err_is_terminal) console.progress = &status_line;
  return mapsweep::run_command_line(mapsweep::parse_command_line(args), *os, *dialog, std::cout,
                                    std::cerr, console);
}
