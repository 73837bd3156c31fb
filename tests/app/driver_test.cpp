// Whole runs of the program over folder trees: the boxes it shows, the exact bytes of every
// maps.lst it leaves, which folders it visits, and what it leaves alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/messages.h"
#include "app/scan_context.h"
#include "runtime/message_box.h"
#include "runtime/program_entry.h"
#include "support/faulty_os.h"
#include "support/lock_holder.h"
#include "support/scripted_dialog.h"
#include "support/system_traits.h"
#include "support/temp_tree.h"
#include "support/tree_runtime.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;
using testing::FaultyOs;
using testing::OsCall;
using testing::ScriptedDialog;
using testing::TempTree;
using tools::map_data;
using tools::pack_archive;
using Files = std::map<std::string, std::string>;

// The program speaks English unless told otherwise; the texts in each language are held
// against their bytes by the messages' own tests.
const std::string kStartQuestion(message_text(Message::kStartQuestion, Language::kEnglish));
const std::string kProgramEnd(message_text(Message::kProgramEnd, Language::kEnglish));

// Map data whose world entity carries `title`.
std::string titled_map(const std::string& title) {
  return map_data(2000, 300, tools::world_entity_text({title, std::nullopt}));
}

// An archive holding these maps, each in a chunk of its own so that each title is paired
// with its name.
std::string archive_of(const std::vector<std::pair<std::string, std::string>>& maps) {
  std::vector<tools::PackFile> files;
  for (const auto& [name, title] : maps) {
    files.push_back(
        {"maps/" + name + ".bsp", map_data(40000, 100, tools::world_entity_text({title, {}}))});
  }
  return pack_archive(files);
}

class Driver : public ::testing::Test, protected testing::TreeRuntime {
 protected:
  // Runs the program in the tree's root, answering the start question with `answer`.
  void run(std::deque<int> answers = {kButtonYes}) {
    dialog_ = ScriptedDialog(std::move(answers));
    faulty_.set_current_directory(tree_.root());
    EXPECT_EQ(program_entry(faulty_, dialog_, WINMAIN), 0);
    EXPECT_FALSE(tree_.exists("temp.tmp"));
  }

  // Every maps.lst of the tree with its bytes.
  Files lists() const {
    Files found;
    for (const auto& [path, bytes] : tree_.files()) {
      if (fs::path(path).filename() == "maps.lst") found[path] = bytes;
    }
    return found;
  }
};

TEST_F(Driver, AsksTheStartQuestionAndEndsWithTheClosingMessage) {
  run();
  ASSERT_EQ(dialog_.shown().size(), 2u);
  EXPECT_EQ(dialog_.shown()[0].text, kStartQuestion);
  EXPECT_EQ(dialog_.shown()[0].title, kDefaultCaption);  // no address to point at
  EXPECT_EQ(dialog_.shown()[0].style, 4u);
  EXPECT_EQ(dialog_.shown()[1].text, kProgramEnd);
  EXPECT_EQ(dialog_.shown()[1].title, kDefaultCaption);
  EXPECT_EQ(dialog_.shown()[1].style, 0u);
  EXPECT_EQ(tree_.files(), (Files{{"maps.lst", ""}}));
}

TEST_F(Driver, AnsweringNoTouchesNothing) {
  tree_.write_file("game1/pak0.pak", archive_of({{"e1m1", "Gate Hall"}}));
  tree_.write_file("game1/maps/dm3.bsp", titled_map("Old Depot"));
  const Files before = tree_.files();
  run({kButtonNo});
  EXPECT_EQ(tree_.files(), before);
  EXPECT_FALSE(tree_.exists("maps.lst"));
  EXPECT_EQ(dialog_.shown().size(), 1u);
}

TEST_F(Driver, ABoxThatCannotBeShownGoesOn) {
  tree_.write_file("game1/maps/dm3.bsp", titled_map("Old Depot"));
  run({});
  EXPECT_EQ(lists(), (Files{{"maps.lst", "dm3 \"Old Depot\"\r\n"},
                            {"game1/maps.lst", "dm3 \"Old Depot\"\r\n"}}));
  EXPECT_EQ(dialog_.shown().size(), 2u);
}

TEST_F(Driver, ListsArchivesAndMapFilesOfEveryGameFolder) {
  tree_.write_file("basegame/pak0.pak", archive_of({{"e1m1", "Gate Hall"}, {"e1m2", "Castle"}}));
  tree_.write_file("basegame/maps/e1m2.bsp", titled_map("Castle"));
  tree_.write_file("basegame/maps/E1M1.BSP", "");
  tree_.write_file("mod/maps/dm3.bsp", titled_map("Old Depot"));
  tree_.write_file("mod/maps/e1m2.bsp", titled_map("Castle"));
  tree_.write_file("mod/readme.txt", "not a map");
  tree_.make_dir("empty");
  tree_.write_file("nothing/pak1.txt", "");
  run();
  EXPECT_EQ(lists(),
            (Files{{"basegame/maps.lst", "e1m1 \"Gate Hall\"\r\ne1m2 \"Castle\"\r\ne1m1 \"\"\r\n"},
                   {"mod/maps.lst", "dm3 \"Old Depot\"\r\ne1m2 \"Castle\"\r\n"},
                   {"maps.lst",
                    "e1m1 \"Gate Hall\"\r\ne1m2 \"Castle\"\r\ne1m1 \"\"\r\n"
                    "dm3 \"Old Depot\"\r\n"}}));
}

TEST_F(Driver, FindsTheMapsFolderInAnyLetterCase) {
  tree_.write_file("a/Maps/one.bsp", titled_map("One"));
  tree_.write_file("b/MAPS/two.bsp", titled_map("Two"));
  run();
  EXPECT_EQ(lists(), (Files{{"a/maps.lst", "one \"One\"\r\n"},
                            {"b/maps.lst", "two \"Two\"\r\n"},
                            {"maps.lst", "one \"One\"\r\ntwo \"Two\"\r\n"}}));
}

TEST_F(Driver, AFolderWhoseArchivesHoldMapsKeepsItsListBesideAnEmptyMapsFolder) {
  tree_.write_file("game1/pak0.pak", archive_of({{"e1m1", "Gate Hall"}}));
  tree_.make_dir("game1/maps");
  run();
  EXPECT_EQ(lists(), (Files{{"game1/maps.lst", "e1m1 \"Gate Hall\"\r\n"},
                            {"maps.lst", "e1m1 \"Gate Hall\"\r\n"}}));
}

TEST_F(Driver, APlainFileNamedMapsCountsAsNoMapsFolder) {
  tree_.write_file("game1/pak0.pak", archive_of({{"e1m1", "Gate Hall"}}));
  tree_.write_file("game1/maps", "not a folder");
  tree_.write_file("q2/MAPS", "");
  run();
  EXPECT_EQ(lists(), (Files{{"game1/maps.lst", "e1m1 \"Gate Hall\"\r\n"},
                            {"maps.lst", "e1m1 \"Gate Hall\"\r\n"}}));
}

TEST_F(Driver, SkipsAPlainFileWithoutExtensionInTheStartingDirectory) {
  tree_.write_file("engine",
                   "\x7F"
                   "ELF binary");
  tree_.write_file("game/maps/dm3.bsp", titled_map("Old Depot"));
  run();
  EXPECT_EQ(tree_.read_file("engine"),
            "\x7F"
            "ELF binary");
  EXPECT_EQ(lists(), (Files{{"game/maps.lst", "dm3 \"Old Depot\"\r\n"},
                            {"maps.lst", "dm3 \"Old Depot\"\r\n"}}));
}

TEST_F(Driver, NeverVisitsHiddenOrDottedFolders) {
  tree_.write_file(".hidden/maps/h.bsp", titled_map("Hidden"));
  tree_.write_file("1.5/maps/v.bsp", titled_map("Versioned"));
  tree_.write_file("1.5/pak0.pak", archive_of({{"e1m1", "Gate Hall"}}));
  run();
  EXPECT_EQ(lists(), (Files{{"maps.lst", ""}}));
}

TEST_F(Driver, AFolderNameWithACommaIsVisitedWholeAndItsPiecesOnlyAsThemselves) {
  tree_.write_file("a,b/maps/split.bsp", titled_map("Split"));
  tree_.write_file("a/maps/first.bsp", titled_map("First"));
  tree_.write_file("b/maps/second.bsp", titled_map("Second"));
  run();
  EXPECT_EQ(lists(),
            (Files{{"a/maps.lst", "first \"First\"\r\n"},
                   {"a,b/maps.lst", "split \"Split\"\r\n"},
                   {"b/maps.lst", "second \"Second\"\r\n"},
                   {"maps.lst", "first \"First\"\r\nsplit \"Split\"\r\nsecond \"Second\"\r\n"}}));
}

TEST_F(Driver, NamesWithControlBytesAndBlanksAreVisitedWholeAndQuotesCutNothingShort) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows allows neither control bytes nor double quotes in names";
#endif
  // All sort before "game": an end-of-text byte, a TAB, CR and LF, leading spaces and a
  // comma read back whole; a name with a double quote cannot be quoted and is left out,
  // without swallowing the names behind it.
  tree_.write_file("  \x1A/maps/eof.bsp", titled_map("Eof"));
  tree_.write_file(" \t\r\n,x/maps/ctl.bsp", titled_map("Control"));
  tree_.write_file("\"quoted/maps/q.bsp", titled_map("Quoted"));
  tree_.write_file("m,\"x/maps/q2.bsp", titled_map("Quoted Too"));
  tree_.write_file("game/maps/dm3.bsp", titled_map("Old Depot"));
  run();
  EXPECT_EQ(lists(),
            (Files{{" \t\r\n,x/maps.lst", "ctl \"Control\"\r\n"},
                   {"  \x1A/maps.lst", "eof \"Eof\"\r\n"},
                   {"game/maps.lst", "dm3 \"Old Depot\"\r\n"},
                   {"maps.lst", "ctl \"Control\"\r\neof \"Eof\"\r\ndm3 \"Old Depot\"\r\n"}}));
}

TEST_F(Driver, AFolderThatVanishedIsSkipped) {
  tree_.write_file("gone/maps/g.bsp", titled_map("Gone"));
  tree_.write_file("here/maps/h.bsp", titled_map("Here"));
  faulty_.fail(OsCall::kSetCurrentDirectory, 2, os::kErrorFileNotFound);  // entering "gone"
  run();
  EXPECT_EQ(lists(), (Files{{"here/maps.lst", "h \"Here\"\r\n"}, {"maps.lst", "h \"Here\"\r\n"}}));
}

TEST_F(Driver, AReadOnlyFolderListIsLeftAsItWasAndItsMapsStillCount) {
  if (!testing::read_only_files_are_refused()) GTEST_SKIP() << "read-only files are writable here";
  tree_.write_file("a/maps/one.bsp", titled_map("One"));
  tree_.write_file("a/maps.lst", "kept as it was\r\n");
  ASSERT_TRUE(testing::make_read_only(tree_.path("a/maps.lst")));
  tree_.write_file("b/maps/two.bsp", titled_map("Two"));
  run();
  EXPECT_EQ(lists(), (Files{{"a/maps.lst", "kept as it was\r\n"},
                            {"b/maps.lst", "two \"Two\"\r\n"},
                            {"maps.lst", "one \"One\"\r\ntwo \"Two\"\r\n"}}));
}

TEST_F(Driver, AReadOnlyCombinedListIsLeftExactlyAsItWas) {
  if (!testing::read_only_files_are_refused()) GTEST_SKIP() << "read-only files are writable here";
  tree_.write_file("maps.lst", "old\r\nold\r\n");
  ASSERT_TRUE(testing::make_read_only(tree_.path("maps.lst")));
  tree_.write_file("a/maps/one.bsp", titled_map("One"));
  tree_.write_file("a/maps/two.bsp", titled_map("Two"));
  tree_.write_file("b/pak0.pak", archive_of({{"e1m1", "Gate Hall"}}));
  run();
  EXPECT_EQ(lists(), (Files{{"a/maps.lst", "one \"One\"\r\ntwo \"Two\"\r\n"},
                            {"b/maps.lst", "e1m1 \"Gate Hall\"\r\n"},
                            {"maps.lst", "old\r\nold\r\n"}}));
}

TEST_F(Driver, AMapFileHeldByAnotherProgramIsListedWithAnEmptyTitle) {
  tree_.write_file("game1/maps/held.bsp", titled_map("Held"));
  tree_.write_file("game1/maps/open.bsp", titled_map("Open"));
  {
    // Released before the files are read back: on Windows nobody may read a held file.
    const testing::LockHolder lock(tree_.path("game1/maps/held.bsp"));
    run();
  }
  const std::string expected = "held \"\"\r\nopen \"Open\"\r\n";
  EXPECT_EQ(lists(), (Files{{"game1/maps.lst", expected}, {"maps.lst", expected}}));
}

TEST_F(Driver, ACombinedListHeldByAnotherProgramIsLeftExactlyAsItWas) {
  tree_.write_file("maps.lst", "theirs\r\ntheirs\r\n");
  tree_.write_file("a/maps/one.bsp", titled_map("One"));
  tree_.write_file("b/pak0.pak", archive_of({{"e1m1", "Gate Hall"}, {"e1m2", "Castle"}}));
  {
    const testing::LockHolder lock(tree_.path("maps.lst"));
    run();
  }
  EXPECT_EQ(lists(), (Files{{"a/maps.lst", "one \"One\"\r\n"},
                            {"b/maps.lst", "e1m1 \"Gate Hall\"\r\ne1m2 \"Castle\"\r\n"},
                            {"maps.lst", "theirs\r\ntheirs\r\n"}}));
}

TEST_F(Driver, AnAbandonedConsolidationDoesNotBlockTheNextFolder) {
  // a's list holds its one line twice (the archive's map and the loose one), so its
  // consolidation writes it again; that write fails, and a keeps the list it had.
  tree_.write_file("a/pak0.pak", pack_archive({{"maps/x.bsp", ""}}));
  tree_.write_file("a/maps/x.bsp", "");
  tree_.write_file("a/maps.lst", "old\r\n");
  tree_.write_file("b/maps/y.bsp", "");
  // The first new file of a list this run makes is that rewrite's.
  faulty_.fail_named(OsCall::kCreateFile, "maps.lst.mapsweep-", os::kErrorHandleDiskFull);
  run();
  EXPECT_EQ(lists(), (Files{{"a/maps.lst", "old\r\n"},
                            {"b/maps.lst", "y \"\"\r\n"},
                            {"maps.lst", "x \"\"\r\ny \"\"\r\n"}}));
}

TEST_F(Driver, ConsolidationKeepsLinesWithAnEndOfTextByte) {
  tree_.write_file("a/maps/eof.bsp", titled_map("Before\x1A"
                                                "After"));
  tree_.write_file("a/maps/later.bsp", titled_map("Later"));
  run();
  const std::string expected =
      "eof \"Before\x1A"
      "After\"\r\nlater \"Later\"\r\n";
  EXPECT_EQ(lists(), (Files{{"a/maps.lst", expected}, {"maps.lst", expected}}));
}

TEST_F(Driver, ConsolidatesLongListsWhole) {
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string name = "m" + std::to_string(10000 + i);
    tree_.write_file("a/maps/" + name + ".bsp", "");
    tree_.write_file("b/maps/" + name + ".bsp", "");
    expected += name + " \"\"\r\n";
  }
  run();
  EXPECT_EQ(lists(),
            (Files{{"a/maps.lst", expected}, {"b/maps.lst", expected}, {"maps.lst", expected}}));
}

}  // namespace
}  // namespace mapsweep
