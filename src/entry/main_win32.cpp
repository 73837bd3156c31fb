// The Windows entry: a GUI program with no console, so the command tail is taken from
// GetCommandLineA and whatever the command line has to say (help, version, a usage error,
// a folder that cannot be entered) is shown in a message box instead of being printed.
#include <windows.h>

#include <sstream>
#include <string>

#include "entry/command_line.h"
#include "entry/command_tail.h"
#include "runtime/message_box.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* command_line = GetCommandLineA();
  const std::string tail = mapsweep::command_tail(command_line ? command_line : "");
  const mapsweep::CommandLine command =
      mapsweep::parse_command_line(mapsweep::split_command_tail(tail));

  auto os = mapsweep::os::make_native_os();
  auto dialog = mapsweep::os::make_native_dialog();
  std::ostringstream out;
  std::ostringstream err;
  const int code = mapsweep::run_command_line(command, *os, *dialog, out, err);

  if (!out.str().empty()) dialog->show(out.str(), mapsweep::kDefaultCaption, mapsweep::kStyleOk);
  if (!err.str().empty()) {
    dialog->show(err.str(), mapsweep::kDefaultCaption, mapsweep::kStyleOk | MB_ICONERROR);
  }
  return code;
}
