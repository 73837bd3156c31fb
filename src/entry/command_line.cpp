#include "entry/command_line.h"

#include <memory>
#include <ostream>

#include "app/run_report.h"
#include "app/scan_context.h"
#include "runtime/dry_run_os.h"
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

// Shows only what asks something or reports a failure: a quiet run prints nothing else.
class QuietDialog final : public os::Dialog {
 public:
  explicit QuietDialog(os::Dialog& inner) : inner_(inner) {}
  int show(const std::string& text, const std::string& title, std::uint32_t style) override {
    const bool notice = (style & 0xF) == kStyleOk && (style & 0xF0) != kStyleErrorIcon;
    return notice ? kButtonOk : inner_.show(text, title, style);
  }

 private:
  os::Dialog& inner_;
};

// Each list a dry run would have written, under its folder's path, the combined list last
// (it is written last).
void print_lists(std::ostream& out, const DryRunOs& dry_run) {
  for (const DryRunOs::WrittenFile& file : dry_run.written_files()) {
    const std::size_t slash = file.path.find_last_of("/\\");
    out << (slash == std::string::npos ? file.path : file.path.substr(0, slash)) << "\n"
        << file.bytes;
  }
}

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
    } else if (!options_done && (arg == "-n" || arg == "--dry-run")) {
      command.dry_run = true;
    } else if (!options_done && (arg == "-v" || arg == "--verbose")) {
      command.verbose = true;
      command.quiet = false;
    } else if (!options_done && (arg == "-q" || arg == "--quiet")) {
      command.quiet = true;
      command.verbose = false;
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
  return "Usage: mapsweep [-y|--yes] [--exact] [-n|--dry-run] [-v|--verbose|-q|--quiet] [DIR]\n"
         "       mapsweep --help | --version\n"
         "\n"
         "Lists the maps of every game folder below DIR (default: the current directory).\n"
         "Each game folder's pak*.pak archives and maps/*.bsp files are searched for map\n"
         "names and titles; the lines go to maps.lst in the game folder and to a combined\n"
         "maps.lst in DIR, with repeated lines removed. Nothing else is changed.\n"
         "\n"
         "  -y, --yes      start without asking\n"
         "      --exact    read each archive's directory and each map's own entity text:\n"
         "                 every playable map with its true title, in natural order, also\n"
         "                 from *.pk3 archives (the default searches the raw bytes)\n"
         "  -n, --dry-run  do the whole run but write and delete nothing: print each list\n"
         "                 that would be written, under its folder, the combined one last\n"
         "  -v, --verbose  print the summary even when the error output is no terminal\n"
         "  -q, --quiet    print nothing but errors\n"
         "  -h, --help     show this help and exit\n"
         "      --version  show the version and exit\n"
         "\n"
         "The start question is asked whenever a person types on a terminal; without one the\n"
         "run starts at once. On a terminal a status line shows the progress, and a summary\n"
         "follows the run: folders visited, lists written, kept and removed, files passed over.\n"
         "Exit status: 0 done, 1 refused (another run is working in DIR, or the folder\n"
         "list cannot be written there), 2 usage error or DIR cannot be entered.\n";
}

std::string version_text() {
  return "mapsweep 1.0.0\n";
}

int run_command_line(const CommandLine& command, os::Os& os, os::Dialog& dialog, std::ostream& out,
                     std::ostream& err, const Console& console) {
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
  QuietDialog quiet_dialog(dialog);
  os::Dialog& shown = command.quiet ? static_cast<os::Dialog&>(quiet_dialog) : dialog;
  YesDialog yes_dialog(shown);
  os::Dialog& used = command.yes ? static_cast<os::Dialog&>(yes_dialog) : shown;
  const std::unique_ptr<DryRunOs> dry_run =
      command.dry_run ? std::make_unique<DryRunOs>(os) : nullptr;
  RunReport report;
  const RunOptions options{command.exact ? ScanMode::kExact : ScanMode::kByteSearch, &report,
                           command.quiet ? nullptr : console.progress};
  const int status = program_entry(dry_run ? *dry_run : os, used,
                                   [&](Runtime& rt) { build_map_lists(rt, options); });
  if (dry_run) print_lists(out, *dry_run);
  if (!command.quiet && (command.verbose || console.err_is_terminal) && status == kExitDone) {
    err << summary_text(report);
  }
  return status;
}

}  // namespace mapsweep
