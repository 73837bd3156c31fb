// The command line shared by the POSIX and Windows entries: mapsweep [OPTION]... [--] [DIR],
// --help, --version, short options alone or together (-yv). With no arguments it runs
// exactly the interactive program in the current directory.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/messages.h"
#include "runtime/platform/os.h"
#include "runtime/program_entry.h"

namespace mapsweep {

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kRun;
  bool yes = false;       // answer the start question Yes without showing it
  bool exact = false;     // read archive directories and entity text instead of raw bytes
  bool dry_run = false;   // do everything but write or delete: print the lists instead
  bool verbose = false;   // the summary even when the error output is no terminal
  bool quiet = false;     // nothing but errors
  bool catalog = false;   // an exact run that also writes the catalogue
  std::string catalog_directory;  // where maps.catalog goes; empty for the base directory
  std::string directory;  // the base directory; empty for the current one
  // What was wrong, for kUsageError: the message and the arguments it names.
  Message error = Message::kUnknownOption;
  std::string error_subject;
  std::string error_other;
};

// Parses the arguments after the program name.
CommandLine parse_command_line(const std::vector<std::string>& args);
// Splits a Windows command tail into arguments (blanks separate, double quotes group).
std::vector<std::string> split_command_tail(const std::string& tail);
std::string usage_text(Language language = Language::kEnglish);
std::string version_text();
// The one line a usage error prints, and the hint that follows it.
std::string usage_error_text(const CommandLine& command, Language language);

class Progress;

// What the entry knows of where its output goes.
struct Console {
  bool err_is_terminal = false;  // the summary is shown there after a run
  Progress* progress = nullptr;  // a status line while the run goes on, when one can be shown
  Language language = Language::kEnglish;  // of everything the program says
};

// Does what the command line asks: help and version go to `out`, a usage error (one line
// and the hint at --help) or a base directory that cannot be entered to `err` (exit 2); a
// run returns the program's exit code.
int run_command_line(const CommandLine& command, os::Os& os, os::Dialog& dialog, std::ostream& out,
                     std::ostream& err, const Console& console = {});

}  // namespace mapsweep
