#include "entry/command_line.h"

#include <memory>
#include <ostream>

#include "app/catalog.h"
#include "app/messages.h"
#include "app/run_report.h"
#include "app/scan_context.h"
#include "app/version.h"
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

// The bytes with each CR LF as LF: a preview's lines all end alike, its folder headers'
// and its lists' (which end in CR LF on disk), and the Windows entry writes them all with
// CR LF again.
std::string with_lf(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

// Each list a dry run would have written, under its folder's path, the combined list last
// (it is written last).
void print_lists(std::ostream& out, const DryRunOs& dry_run) {
  for (const DryRunOs::WrittenFile& file : dry_run.written_files()) {
    const std::size_t slash = file.path.find_last_of("/\\");
    out << (slash == std::string::npos ? file.path : file.path.substr(0, slash)) << "\n"
        << with_lf(file.bytes);
  }
}

// DIR/maps.catalog as a full path, DIR being the catalogue's folder or else the base
// directory, named from the current directory.
bool catalog_place(os::Os& os, const CommandLine& command, std::string& place) {
  std::string folder = command.catalog_directory;
  if (folder.empty()) folder = command.directory.empty() ? "." : command.directory;
  std::string full;
  if (os.full_path(folder, full).value == 0 || full.empty()) return false;
  const char separator = full.find('\\') != std::string::npos ? '\\' : '/';
  if (full.back() != separator) full += separator;
  place = full + kCatalogFolderName;
  return true;
}

bool catalog_left(const RunReport& report) {
  const CatalogOutcome outcome = report.catalog.outcome;
  return outcome != CatalogOutcome::kNone && outcome != CatalogOutcome::kWritten;
}

bool is_option(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

// Each option by its letter (0 for none) and its long name.
struct OptionSpelling {
  char letter;
  const char* name;
  void (*apply)(CommandLine&);
};

constexpr OptionSpelling kOptions[] = {
    {'h', "--help", [](CommandLine& c) { c.action = CommandLine::Action::kHelp; }},
    {0, "--version", [](CommandLine& c) { c.action = CommandLine::Action::kVersion; }},
    {'y', "--yes", [](CommandLine& c) { c.yes = true; }},
    {0, "--exact", [](CommandLine& c) { c.exact = true; }},
    {0, "--catalog", [](CommandLine& c) { c.catalog = true; }},
    {'n', "--dry-run", [](CommandLine& c) { c.dry_run = true; }},
    {'v', "--verbose", [](CommandLine& c) { c.verbose = true; }},
    {'q', "--quiet", [](CommandLine& c) { c.quiet = true; }},
};

const OptionSpelling* long_option(const std::string& arg) {
  for (const OptionSpelling& option : kOptions) {
    if (arg == option.name) return &option;
  }
  return nullptr;
}

const OptionSpelling* short_option(char letter) {
  for (const OptionSpelling& option : kOptions) {
    if (option.letter != 0 && option.letter == letter) return &option;
  }
  return nullptr;
}

CommandLine usage_error(Message message, std::string subject, std::string other = {}) {
  CommandLine command;
  command.action = CommandLine::Action::kUsageError;
  command.error = message;
  command.error_subject = std::move(subject);
  command.error_other = std::move(other);
  return command;
}

// The options that cannot go together, as they were typed, so that the error names them.
struct Typed {
  std::string quiet;
  std::string verbose;
};

// Applies one option as typed (`-y`, `--yes`); false when there is none such.
bool apply_option(CommandLine& command, Typed& typed, const OptionSpelling* option,
                  const std::string& as_typed) {
  if (option == nullptr) return false;
  option->apply(command);
  if (option->letter == 'q') typed.quiet = as_typed;
  if (option->letter == 'v') typed.verbose = as_typed;
  return true;
}

bool is_done(const CommandLine& command) {
  return command.action != CommandLine::Action::kRun;
}

// Applies an argument that begins with a dash; a usage error when it names no option.
void apply_option_argument(CommandLine& command, Typed& typed, const std::string& arg) {
  constexpr std::string_view catalog_with_folder = "--catalog=";
  if (arg.starts_with(catalog_with_folder)) {
    command.catalog = true;
    command.catalog_directory = arg.substr(catalog_with_folder.size());
    if (command.catalog_directory.empty()) command = usage_error(Message::kEmptyDirectoryName, {});
    return;
  }
  if (arg.starts_with("--")) {
    if (!apply_option(command, typed, long_option(arg), arg)) {
      command = usage_error(Message::kUnknownOption, arg);
    }
    return;
  }
  for (std::size_t at = 1; at < arg.size() && !is_done(command); ++at) {
    const std::string letter{'-', arg[at]};
    if (!apply_option(command, typed, short_option(arg[at]), letter)) {
      command = usage_error(Message::kUnknownOption, letter);
    }
  }
}

void take_directory(CommandLine& command, const std::string& arg) {
  if (arg.empty()) {
    command = usage_error(Message::kEmptyDirectoryName, {});
  } else if (!command.directory.empty()) {
    command = usage_error(Message::kMoreThanOneDirectory, arg);
  } else {
    command.directory = arg;
  }
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args) {
  CommandLine command;
  Typed typed;
  bool options_done = false;
  for (const std::string& arg : args) {
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && is_option(arg)) {
      apply_option_argument(command, typed, arg);
    } else {
      take_directory(command, arg);
    }
    if (is_done(command)) return command;
  }
  if (command.quiet && command.verbose) {
    return usage_error(Message::kConflictingOptions, typed.quiet, typed.verbose);
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

std::string usage_text(Language language) {
  return std::string(message_text(Message::kUsage, language));
}

std::string version_text() {
  return std::string("mapsweep ") + kMapsweepVersion + "\n";
}

std::string usage_error_text(const CommandLine& command, Language language) {
  return "mapsweep: " +
         message(command.error, language, {command.error_subject, command.error_other}) + "\n" +
         message(Message::kTryHelp, language) + "\n";
}

int run_command_line(const CommandLine& command, os::Os& os, os::Dialog& dialog, std::ostream& out,
                     std::ostream& err, const Console& console) {
  switch (command.action) {
    case CommandLine::Action::kHelp:
      out << usage_text(console.language);
      return 0;
    case CommandLine::Action::kVersion:
      out << version_text();
      return 0;
    case CommandLine::Action::kUsageError:
      err << usage_error_text(command, console.language);
      return kExitUsage;
    case CommandLine::Action::kRun:
      break;
  }
  // The catalogue's folder is named from where the program was started, before the base
  // directory is entered.
  CatalogOptions catalog;
  if (command.catalog && !catalog_place(os, command, catalog.place)) {
    err << "mapsweep: "
        << message(Message::kCannotEnter, console.language, {command.catalog_directory}) << "\n";
    return kExitUsage;
  }
  catalog.dry_run = command.dry_run;
  catalog.generator = std::string("mapsweep ") + kMapsweepVersion;
  if (!command.directory.empty()) {
    const os::Result entered = os.set_current_directory(command.directory);
    if (entered.value == 0) {
      err << "mapsweep: "
          << message(Message::kCannotEnter, console.language, {command.directory}) << "\n";
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
  report.dry_run = command.dry_run;
  const ScanMode mode = command.catalog ? ScanMode::kCatalog
                        : command.exact ? ScanMode::kExact
                                        : ScanMode::kByteSearch;
  const RunOptions options{mode, &report, command.quiet ? nullptr : console.progress,
                           console.language, command.catalog ? &catalog : nullptr};
  const int status = program_entry(dry_run ? *dry_run : os, used,
                                   [&](Runtime& rt) { build_map_lists(rt, options); });
  if (dry_run) print_lists(out, *dry_run);
  const bool summary_shown =
      !command.quiet && (command.verbose || console.err_is_terminal) && status == kExitDone;
  if (summary_shown) err << summary_text(report, console.language);
  // A catalogue asked for and not written is an error: said even where no summary is.
  if (status == kExitDone && catalog_left(report)) {
    if (!summary_shown) err << "mapsweep: " << catalog_summary_text(report, console.language);
    return kExitCatalogLeft;
  }
  return status;
}

}  // namespace mapsweep
