// What a run reports against what it did: one tree with a list whose bytes change, one that
// comes out the same, one kept after a scan that could not read everything and one
// removed, run for real, as a dry run and a second time; and exact mode's combined list.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/run_report.h"
#include "program_tree.h"
#include "runtime/dry_run_os.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;
using testing::OsCall;

class RunSummary : public testing::ProgramTree {
 protected:
  RunSummary() {
    loose_map("written", "one", "One");
    tree_.write_file("base/written/maps.lst", "old one\r\n");
    loose_map("unchanged", "two", "Two");
    tree_.write_file("base/unchanged/maps.lst", "two \"Two\"\r\n");
    tree_.write_file("base/kept/pak0.pak", tools::pack_archive({{"maps/e1m1.bsp", "x"}}));
    tree_.write_file("base/kept/maps.lst", "old kept\r\n");
    tree_.make_dir("base/removed");
    tree_.write_file("base/removed/maps.lst", "old removed\r\n");
    tree_.write_file("base/maps.lst", "old combined\r\n");
    // The kept folder's archive is held by another program: its scan is incomplete.
    faulty_.fail_named(OsCall::kCreateFile, "pak0.pak", os::kErrorSharingViolation,
                       testing::Repeat::kFromThenOn);
  }

  RunReport run_reporting(bool dry) {
    RunReport report;
    report.dry_run = dry;
    dialog_ = testing::ScriptedDialog({kButtonYes});
    faulty_.set_current_directory(tree_.path("base"));
    DryRunOs dry_run(faulty_);
    os::Os& used = dry ? static_cast<os::Os&>(dry_run) : faulty_;
    EXPECT_EQ(program_entry(used, dialog_,
                            [&](Runtime& rt) {
                              build_map_lists(rt, {ScanMode::kByteSearch, &report, nullptr});
                            }),
              kExitDone);
    return report;
  }
};

TEST_F(RunSummary, CountsWrittenUnchangedKeptAndRemovedListsApart) {
  const fs::file_time_type long_ago = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(tree_.path("base/unchanged/maps.lst"), long_ago);
  const testing::Files before = tree_.files();

  const RunReport dry = run_reporting(true);
  EXPECT_EQ(tree_.files(), before);
  EXPECT_EQ(summary_text(dry, Language::kEnglish),
            "Game folders visited: 4\n"
            "Lists that would be written: 1\n"
            "Lists unchanged (same bytes, left as they were): 1\n"
            "Lists kept because a scan was incomplete: 1\n"
            "Lists that would be removed: 1\n"
            "Combined list would be written: 2 maps\n"
            "Passed over:\n"
            "  kept/pak0.pak: held by another program\n");

  const RunReport real = run_reporting(false);
  EXPECT_EQ(summary_text(real, Language::kEnglish),
            "Game folders visited: 4\n"
            "Lists written (bytes changed): 1\n"
            "Lists unchanged (same bytes, left as they were): 1\n"
            "Lists kept because a scan was incomplete: 1\n"
            "Lists removed: 1\n"
            "Combined list written: 2 maps\n"
            "Passed over:\n"
            "  kept/pak0.pak: held by another program\n");
  EXPECT_EQ(tree_.read_file("base/written/maps.lst"), "one \"One\"\r\n");
  EXPECT_EQ(tree_.read_file("base/kept/maps.lst"), "old kept\r\n");
  EXPECT_FALSE(tree_.exists("base/removed/maps.lst"));
  // Unchanged means left alone: not even its time was touched.
  // (Within seconds: Windows and Wine keep file times in coarser steps than the clock.)
  const auto moved = fs::last_write_time(tree_.path("base/unchanged/maps.lst")) - long_ago;
  EXPECT_LT(std::chrono::abs(moved), std::chrono::seconds(2));

  // Run again, every list that can be written is as the run would write it.
  const RunReport again = run_reporting(false);
  EXPECT_EQ(again.lists_written, 0);
  EXPECT_EQ(again.lists_unchanged, 2);
  EXPECT_EQ(again.lists_kept, 1);
  EXPECT_EQ(again.lists_removed, 0);
  EXPECT_EQ(again.combined, CombinedList::kUnchanged);
}

// A folder whose scans find one map twice (in its archive and loose) gets the line once,
// and a second run leaves that list alone and says so: it is written once, consolidated.
TEST_F(RunSummary, AListWhoseLineRepeatsIsWrittenOnceAndThenLeftAlone) {
  loose_map("repeats", "three", "Three");
  tree_.write_file("base/repeats/pak1.pak",
                   tools::pack_archive({{"maps/three.bsp",
                                         tree_.read_file("base/repeats/maps/three.bsp")}}));
  const RunReport first = run_reporting(false);
  EXPECT_EQ(tree_.read_file("base/repeats/maps.lst"), "three \"Three\"\r\n");
  EXPECT_EQ(first.lists_written, 2);
  const fs::file_time_type long_ago = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(tree_.path("base/repeats/maps.lst"), long_ago);

  const RunReport again = run_reporting(false);
  EXPECT_EQ(again.lists_written, 0);
  EXPECT_EQ(again.lists_unchanged, 3) << summary_text(again, Language::kEnglish);
  const auto moved = fs::last_write_time(tree_.path("base/repeats/maps.lst")) - long_ago;
  EXPECT_LT(std::chrono::abs(moved), std::chrono::seconds(2));
}

TEST_F(RunSummary, DecliningTheQuestionSaysNothingWasDone) {
  RunReport report;
  dialog_ = testing::ScriptedDialog({kButtonNo});
  faulty_.set_current_directory(tree_.path("base"));
  program_entry(faulty_, dialog_, [&](Runtime& rt) {
    build_map_lists(rt, {ScanMode::kByteSearch, &report, nullptr});
  });
  EXPECT_EQ(summary_text(report, Language::kEnglish),
            "Nothing was done: no list was written or removed.\n");
}

class CombinedListCase : public testing::ProgramTree {
 protected:
  // A playable map (a player start follows the world) in a chunk of its own, so that the
  // byte search pairs its title with its name too.
  static std::string titled(const std::string& title) {
    const std::string text = tools::entity_text(
        {{{"classname", "worldspawn"}, {"message", title}}, {{"classname", "info_player_start"}}});
    return tools::bsp_map(tools::MapLayout::kVersion29, text, 40000);
  }
};

// One map under two letter cases in two folders: the exact combined list has it once, the
// byte search keeps both lines as it always did; other titles stay apart.
TEST_F(CombinedListCase, ExactModeFoldsNamesThatDifferOnlyInLetterCase) {
  struct Case {
    MainRoutine routine;
    const char* combined;
  };
  for (const Case& c : {Case{exact_main,
                             "DM4 \"Title\"\r\ne1m1 \"Other\"\r\nE1M1 \"Another\"\r\n"},
                        Case{WINMAIN,
                             "DM4 \"Title\"\r\ne1m1 \"Other\"\r\ndm4 \"Title\"\r\n"
                             "E1M1 \"Another\"\r\n"}}) {
    // The base's content, not the base: a run's current folder cannot be removed on Windows.
    for (const auto& entry : fs::directory_iterator(tree_.path("base"))) fs::remove_all(entry);
    tree_.write_file("base/a/pak0.pak", tools::pack_archive({{"maps/DM4.bsp", titled("Title")},
                                                             {"maps/e1m1.bsp", titled("Other")}}));
    tree_.write_file("base/b/pak0.pak", tools::pack_archive({{"maps/dm4.bsp", titled("Title")},
                                                             {"maps/E1M1.bsp", titled("Another")}}));
    EXPECT_EQ(run({kButtonYes}, c.routine), kExitDone);
    EXPECT_EQ(tree_.read_file("base/maps.lst"), c.combined);
  }
}

}  // namespace
}  // namespace mapsweep
