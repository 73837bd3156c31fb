// The built mapsweep binary as a user runs it: without a terminal, with --yes and a
// directory, answering No on a pseudo-terminal, and on a tree with a symlinked game folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pseudo_terminal_posix.h"
#include "support/temp_tree.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

using namespace std::chrono_literals;
using testing::exit_status;
using testing::OutputPipe;
using testing::PseudoTerminal;
using testing::start_child;
using testing::TempTree;
namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the program with the locale variables saying `lang` alone, so that what it says does
// not hang on the machine's settings.
[[noreturn]] void exec_mapsweep(const std::vector<std::string>& args,
                                const char* lang = "en_US.UTF-8") {
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  ::setenv("LANG", lang, 1);
  std::vector<char*> argv{const_cast<char*>(MAPSWEEP_BINARY)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(MAPSWEEP_BINARY, argv.data());
  _exit(127);
}

// Runs mapsweep with no terminal: stdin from /dev/null, stdout and stderr into pipes.
Outcome run_without_terminal(const std::vector<std::string>& args, const std::string& cwd = "") {
  OutputPipe out;
  OutputPipe err;
  const pid_t child = start_child([&] {
    if (!testing::attach_null_in_child(STDIN_FILENO) || !out.attach_in_child(STDOUT_FILENO) ||
        !err.attach_in_child(STDERR_FILENO)) {
      _exit(125);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    exec_mapsweep(args);
  });
  Outcome outcome;
  outcome.out = out.read_all(30s);
  outcome.err = err.read_all(5s);
  outcome.exit_code = exit_status(child);
  return outcome;
}

std::string map_bytes(const std::string& title) {
  return tools::map_data(40000, 100, tools::world_entity_text({title, {}, tools::LineEnd::kLf}));
}

void build_game_tree(const TempTree& tree, const std::string& base) {
  tree.write_file(base + "/basegame/pak0.pak",
                  tools::pack_archive({{"maps/e1m1.bsp", map_bytes("Lost Castle")},
                                       {"maps/e1m2.bsp", map_bytes("Red Keep")}}));
  tree.write_file(base + "/mod/Maps/DM1.BSP", map_bytes("Iron Arena"));
}

const char kGameLists[] = "e1m1 \"Lost Castle\"\r\ne1m2 \"Red Keep\"\r\ndm1 \"Iron Arena\"\r\n";

TEST(MapsweepBinary, WithoutATerminalItRunsSilently) {
  TempTree tree;
  build_game_tree(tree, "base");
  const Outcome outcome = run_without_terminal({}, tree.path("base"));
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(tree.read_file("base/maps.lst"), kGameLists);
  EXPECT_EQ(tree.read_file("base/basegame/maps.lst"),
            "e1m1 \"Lost Castle\"\r\ne1m2 \"Red Keep\"\r\n");
  EXPECT_EQ(tree.read_file("base/mod/maps.lst"), "dm1 \"Iron Arena\"\r\n");
  EXPECT_FALSE(tree.exists("base/temp.tmp"));
}

TEST(MapsweepBinary, YesAndADirectoryWorkThereAsIfStartedThere) {
  TempTree tree;
  build_game_tree(tree, "base");
  tree.make_dir("elsewhere");
  const Outcome outcome =
      run_without_terminal({"--yes", tree.path("base")}, tree.path("elsewhere"));
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(tree.read_file("base/maps.lst"), kGameLists);
  EXPECT_TRUE(fs::is_empty(tree.path("elsewhere")));
}

TEST(MapsweepBinary, HelpVersionAndUsageErrors) {
  const Outcome help = run_without_terminal({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: mapsweep"), std::string::npos);
  const Outcome version = run_without_terminal({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_NE(version.out.find("mapsweep "), std::string::npos);
  const Outcome unknown = run_without_terminal({"--frobnicate"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(unknown.out, "");
  // One line naming the option and a hint, not the whole help.
  EXPECT_EQ(unknown.err, "mapsweep: unknown option '--frobnicate'\nTry 'mapsweep --help'.\n");
  TempTree tree;
  const Outcome missing = run_without_terminal({"--yes", tree.path("no such folder")});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_NE(missing.err.find("cannot enter"), std::string::npos);
  EXPECT_TRUE(tree.files().empty());
}

TEST(MapsweepBinary, AnsweringNoOnATerminalLeavesTheTreeUnchanged) {
  TempTree tree;
  build_game_tree(tree, "base");
  tree.write_file("base/basegame/maps.lst", "old list\r\n");
  const auto before = tree.files();

  PseudoTerminal terminal;
  const pid_t child = start_child([&] {
    if (!terminal.attach_in_child({STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})) _exit(125);
    if (chdir(tree.path("base").c_str()) != 0) _exit(126);
    exec_mapsweep({}, "de_DE.UTF-8");
  });
  // Wait for the question before answering it: the original German one, as the locale asks.
  terminal.wait_for("Starten ?", 1, 20s);
  EXPECT_NE(terminal.screen().find("Starten ?"), std::string::npos) << terminal.screen();
  EXPECT_EQ(terminal.screen().find("https://"), std::string::npos) << terminal.screen();
  ASSERT_TRUE(terminal.type("n\n"));
  terminal.drain(20s);
  terminal.hang_up();
  EXPECT_EQ(exit_status(child), 0);
  EXPECT_EQ(tree.files(), before);
}

TEST(MapsweepBinary, ASymlinkedGameFolderGetsItsListAndNothingOutsideChanges) {
  TempTree tree;
  build_game_tree(tree, "base");
  tree.write_file("outside/linked/pak0.pak",
                  tools::pack_archive({{"maps/far.bsp", map_bytes("Far Away")}}));
  tree.write_file("outside/keep.txt", "untouched\r\n");
  fs::create_directory_symlink(tree.path("outside/linked"), tree.path("base/linked"));

  const Outcome outcome = run_without_terminal({"--yes", tree.path("base")});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(tree.read_file("outside/linked/maps.lst"), "far \"Far Away\"\r\n");
  // Game folders are visited in name order: basegame, linked, mod.
  EXPECT_EQ(tree.read_file("base/maps.lst"),
            "e1m1 \"Lost Castle\"\r\ne1m2 \"Red Keep\"\r\nfar \"Far Away\"\r\n"
            "dm1 \"Iron Arena\"\r\n");
  // Only the linked folder's own list appeared outside the base directory.
  const auto files = tree.files();
  std::vector<std::string> outside;
  for (const auto& [path, bytes] : files) {
    if (path.rfind("outside/", 0) == 0) outside.push_back(path);
  }
  EXPECT_EQ(outside, (std::vector<std::string>{"outside/keep.txt", "outside/linked/maps.lst",
                                               "outside/linked/pak0.pak"}));
  EXPECT_EQ(tree.read_file("outside/keep.txt"), "untouched\r\n");
  EXPECT_FALSE(tree.exists("outside/maps.lst"));
  EXPECT_FALSE(tree.exists("outside/temp.tmp"));
}

}  // namespace
}  // namespace mapsweep

namespace mapsweep {
namespace {

// mapsweep in `base` with a person at the terminal for its input and error output, and its
// standard output sent into a pipe, as with `mapsweep | tee log`.
struct TerminalRun {
  std::string screen;
  std::string out;
  int exit_code = -1;
};
TerminalRun run_on_terminal_with_output_piped(const TempTree& tree, const std::string& answer,
                                              const std::vector<std::string>& args = {}) {
  PseudoTerminal terminal;
  OutputPipe out;
  const pid_t child = start_child([&] {
    if (!terminal.attach_in_child({STDIN_FILENO, STDERR_FILENO}) ||
        !out.attach_in_child(STDOUT_FILENO)) {
      _exit(125);
    }
    if (chdir(tree.path("base").c_str()) != 0) _exit(126);
    exec_mapsweep(args);
  });
  TerminalRun run;
  if (terminal.wait_for("[y/n]", 1, 20s)) terminal.type(answer);
  run.out = out.read_all(30s);
  terminal.drain(20s);
  terminal.hang_up();
  run.exit_code = exit_status(child);
  run.screen = terminal.screen();
  return run;
}

TEST(MapsweepOnATerminal, AsksEvenWithItsOutputPipedAndSumsUpTheRun) {
  TempTree tree;
  build_game_tree(tree, "base");
  const auto before = tree.files();
  const TerminalRun declined = run_on_terminal_with_output_piped(tree, "n\n");
  EXPECT_EQ(declined.exit_code, 0);
  EXPECT_NE(declined.screen.find("Start?"), std::string::npos) << declined.screen;
  EXPECT_NE(declined.screen.find("Nothing was done"), std::string::npos) << declined.screen;
  EXPECT_EQ(tree.files(), before);

  const TerminalRun accepted = run_on_terminal_with_output_piped(tree, "y\n");
  EXPECT_EQ(accepted.exit_code, 0);
  EXPECT_EQ(accepted.out, "");
  EXPECT_EQ(tree.read_file("base/maps.lst"), kGameLists);
  // The summary follows the closing box on the terminal.
  const std::size_t closing = accepted.screen.find("Done");
  const std::size_t summary = accepted.screen.find("Game folders visited: 2");
  EXPECT_NE(closing, std::string::npos) << accepted.screen;
  EXPECT_NE(summary, std::string::npos) << accepted.screen;
  EXPECT_LT(closing, summary);
  EXPECT_NE(accepted.screen.find("Lists written (bytes changed): 2"), std::string::npos);
  EXPECT_NE(accepted.screen.find("Combined list written: 3 maps"), std::string::npos);
}

TEST(MapsweepOnATerminal, QuietPrintsNothingButTheQuestion) {
  TempTree tree;
  build_game_tree(tree, "base");
  const TerminalRun run = run_on_terminal_with_output_piped(tree, "y\n", {"--quiet"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.screen.find("Done"), std::string::npos) << run.screen;
  EXPECT_EQ(run.screen.find("visited"), std::string::npos) << run.screen;
  EXPECT_EQ(tree.read_file("base/maps.lst"), kGameLists);
}

TEST(MapsweepBinary, ADryRunPrintsTheListsARealRunWritesAndTouchesNothing) {
  TempTree tree;
  build_game_tree(tree, "base");
  tree.write_file("base/empty/maps.lst", "a list a real run removes\r\n");
  tree.write_file("base/maps.lst.mapsweep-abc123", "a killed run's leftover");
  const auto before = tree.files();
  const Outcome dry = run_without_terminal({"--yes", "--dry-run", "--verbose", tree.path("base")});
  EXPECT_EQ(dry.exit_code, 0);
  EXPECT_EQ(tree.files(), before);
  EXPECT_NE(dry.err.find("Lists that would be removed: 1"), std::string::npos) << dry.err;
  EXPECT_NE(dry.err.find("Lists that would be written: 2"), std::string::npos) << dry.err;

  const Outcome real = run_without_terminal({"--yes", tree.path("base")});
  EXPECT_EQ(real.exit_code, 0);
  EXPECT_EQ(real.err, "");  // no terminal, no --verbose: no summary
  std::string printed;
  for (const char* folder : {"base/basegame", "base/mod", "base"}) {
    printed += tree.path(folder) + "\n" + tree.read_file(std::string(folder) + "/maps.lst");
  }
  // The preview's lines all end in LF, the lists' as well as the headers'.
  for (std::size_t at = printed.find("\r\n"); at != std::string::npos; at = printed.find("\r\n")) {
    printed.erase(at, 1);
  }
  EXPECT_EQ(dry.out, printed);
  EXPECT_FALSE(tree.exists("base/empty/maps.lst"));
  EXPECT_FALSE(tree.exists("base/maps.lst.mapsweep-abc123"));
}

}  // namespace
}  // namespace mapsweep
