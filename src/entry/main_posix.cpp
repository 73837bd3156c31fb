// The POSIX entry: the arguments as given, the terminal as the dialog.
#include <iostream>
#include <string>
#include <vector>

#include "entry/command_line.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto os = mapsweep::os::make_native_os();
  auto dialog = mapsweep::os::make_native_dialog();
  return mapsweep::run_command_line(mapsweep::parse_command_line(args), *os, *dialog, std::cout,
                                    std::cerr);
}
