#include "entry/command_line.h"

#include <ostream>

#include "app/scan_context.h"
#include "runtime/message_box.h"
#include "runtime/program_entry.h"

namespace mapsweep {
namespace {

// Answers the start question Yes without showing it; every other box goes to the dialog
// the run would have used anyway.
class YesDialog final : public os::Dialog {
 public:
  explicit YesDialog(os::Dialog& inner) : inner_(inner) {}
  int show(const std::string& text, const std::string& title, std::uint32_t style) override {
    if (style == kStyleYesNo) return kButtonYes;
    return inner_.show(text, title, style);
  }

 private:
  os::Dialog& inner_;
};

bool is_option(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

CommandLine usage_error(std::string message) {
  CommandLine command;
  command.action = CommandLine::Action::kUsageError;
  command.error = std::move(message);
  return command;
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args) {
  CommandLine command;
  bool options_done = false;
  for (const std::string& arg : args) {
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "-h" || arg == "--help")) {
      command.action = CommandLine::Action::kHelp;
      return command;
    } else if (!options_done && arg == "--version") {
      command.action = CommandLine::Action::kVersion;
      return command;
    } else if (!options_done && (arg == "-y" || arg == "--yes")) {
      command.yes = true;
    } else if (!options_done && arg == "--exact") {
      command.exact = true;
    } else if (!options_done && is_option(arg)) {
      return usage_error("unknown option '" + arg + "'");
    } else if (command.directory.empty() && !arg.empty()) {
      command.directory = arg;
    } else {
      return usage_error(arg.empty() ? "empty directory name" : "more than one directory given");
    }
  }
  return command;
}

std::vector<std::string> split_command_tail(const std::string& tail) {
  std::vector<std::string> args;
  std::string current;
  bool in_quotes = false;
  bool have_arg = false;
  for (char c : tail) {
    if (c == '"') {
      in_quotes = !in_quotes;
      have_arg = true;
    } else if (!in_quotes && (c == ' ' || c == '\t')) {
      if (have_arg) args.push_back(std::move(current));
      current.clear();
      have_arg = false;
    } else {
      current.push_back(c);
      have_arg = true;
    }
  }
  if (have_arg) args.push_back(std::move(current));
  return args;
}

std::string usage_text() {
  return "Usage: mapsweep [-y|--yes] [--exact] [DIR]\n"
         "       mapsweep --help | --version\n"
         "\n"
         "Lists the maps of every game folder below DIR (default: the current directory).\n"
         "Each game folder's pak*.pak archives and maps/*.bsp files are searched for map\n"
         "names and titles; the lines go to maps.lst in the game folder and to a combined\n"
         "maps.lst in DIR, with repeated lines removed. Nothing else is changed.\n"
         "\n"
         "  -y, --yes    start without asking\n"
         "      --exact  read each archive's directory and each map's own entity text:\n"
         "               every playable map with its true title, in natural order, also\n"
         "               from *.pk3 archives (the default searches the raw bytes)\n"
         "  -h, --help   show this help and exit\n"
         "      --version  show the version and exit\n"
         "\n"
         "Without a terminal no question can be asked, and the run starts at once.\n"
         "Exit status: 0 done, 1 refused (another run is working in DIR, or the folder\n"
         "list cannot be written there), 2 usage error or DIR cannot be entered.\n";
}

std::string version_text() {
  return "mapsweep 1.0.0\n";
}

int run_command_line(const CommandLine& command, os::Os& os, os::Dialog& dialog, std::ostream& out,
                     std::ostream& err) {
  switch (command.action) {
    case CommandLine::Action::kHelp:
      out << usage_text();
      return 0;
    case CommandLine::Action::kVersion:
      out << version_text();
      return 0;
    case CommandLine::Action::kUsageError:
      err << "mapsweep: " << command.error << "\n" << usage_text();
      return kExitUsage;
    case CommandLine::Action::kRun:
      break;
  }
  if (!command.directory.empty()) {
    const os::Result entered = os.set_current_directory(command.directory);
    if (entered.value == 0) {
      err << "mapsweep: cannot enter directory '" << command.directory << "'\n";
      return kExitUsage;
    }
  }
  YesDialog yes_dialog(dialog);
  os::Dialog& used = command.yes ? static_cast<os::Dialog&>(yes_dialog) : dialog;
  return program_entry(os, used, command.exact ? &exact_main : &WINMAIN);
}

}  // namespace mapsweep
