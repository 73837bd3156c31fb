// The POSIX entry: the arguments as given, the terminal as the dialog, and on a terminal
// a status line and the summary on the error output.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "entry/command_line.h"
#include "entry/status_line.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto os = mapsweep::os::make_native_os();
  auto dialog = mapsweep::os::make_native_dialog();
  mapsweep::StatusLine status_line(std::cerr);
  mapsweep::Console console;
  console.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
  if (console.err_is_terminal) console.progress = &status_line;
  return mapsweep::run_command_line(mapsweep::parse_command_line(args), *os, *dialog, std::cout,
                                    std::cerr, console);
}
