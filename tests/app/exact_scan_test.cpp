// Exact mode over real-shaped installations: archives with their directory at the end,
// map files in every header layout, entity text as map tools write it. Every playable map
// is listed once per folder, with its own title, as the copy a game would load, in
// natural order; damaged input yields nothing and stops nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/exact_maps.h"
#include "program_tree.h"
#include "support/lock_holder.h"

namespace mapsweep {
namespace {

using testing::Files;
using tools::bsp_map;
using tools::EntityPairs;
using tools::MapLayout;

// A playable map's entity text: a world with this message (none when empty) and a player
// start after it.
std::string playable_text(const std::string& message, tools::LineEnd end = tools::LineEnd::kLf) {
  EntityPairs world = {{"classname", "worldspawn"}};
  if (!message.empty()) world.push_back({"message", message});
  return tools::entity_text({world, {{"classname", "info_player_start"}}}, end);
}

std::string playable(const std::string& message, MapLayout layout = MapLayout::kVersion29) {
  return bsp_map(layout, playable_text(message), 3000);
}

std::string line(const std::string& name, const std::string& title) {
  return name + " \"" + title + "\"\r\n";
}

class ExactScan : public testing::ProgramTree {
 protected:
  std::string folder_list(const std::string& folder) {
    return tree_.read_file("base/" + folder + "/maps.lst");
  }
};

TEST_F(ExactScan, EveryHeaderLayoutGivesItsTitle) {
  std::string expected;
  int i = 0;
  for (const MapLayout layout : tools::kAllMapLayouts) {
    const std::string name = "m" + std::to_string(++i);
    tree_.write_file("base/g/maps/" + name + ".bsp", playable("Layout " + name, layout));
    expected += line(name, "Layout " + name);
  }
  EXPECT_EQ(run_exact(), kExitDone);
  EXPECT_EQ(folder_list("g"), expected);
}

TEST_F(ExactScan, ReadsTheDirectoryAtTheEndAndListsOnlyPlayableMapsDirectlyInMaps) {
  std::vector<tools::PackFile> files;
  for (int i = 1; i <= 30; ++i) files.push_back({"sound/s" + std::to_string(i) + ".wav", "noise"});
  files.push_back({"maps/e1m10.bsp", playable("Tenth")});
  files.push_back({"maps/e1m2.bsp", playable("Second")});
  files.push_back({"MAPS/E1M3.BSP", playable("Third")});
  files.push_back({"maps/debris/rock.bsp", playable("Debris")});
  files.push_back(
      {"maps/b_box.bsp",
       bsp_map(MapLayout::kVersion29, tools::entity_text({{{"classname", "worldspawn"}}}), 500)});
  files.push_back({"maps/nomap.bsp", "not a map at all"});
  tree_.write_file("base/g/pak0.pak", tools::pack_archive(files));
  EXPECT_EQ(run_exact(), kExitDone);
  const std::string expected =
      line("e1m2", "Second") + line("E1M3", "Third") + line("e1m10", "Tenth");
  EXPECT_EQ(folder_list("g"), expected);
  EXPECT_EQ(tree_.read_file("base/maps.lst"), expected);
}

TEST_F(ExactScan, EntityTextAsMapToolsWriteIt) {
  const auto map_with_text = [&](const std::string& name, const std::string& text) {
    tree_.write_file("base/g/maps/" + name + ".bsp", bsp_map(MapLayout::kIbsp38, text, 2000));
  };
  map_with_text("crlf", playable_text("Line Ends", tools::LineEnd::kCrLf));
  map_with_text(
      "tabs",
      "// made by hand\n{\t\"classname\"\t\"worldspawn\"\t\"message\"\t\"Tab Separated\"}\n"
      "{ classname info_player_deathmatch }");
  // High bytes lose their top bit (0xA2 becomes a quote, shown as an apostrophe) and "\n"
  // becomes a space.
  map_with_text("styled",
                "{\"classname\" \"worldspawn\" \"message\" \"\xC7old\\nKeep \xA2of\xA2\"}"
                "{\"classname\" \"info_player_start\"}");
  map_with_text("untitled", playable_text(""));
  EXPECT_EQ(run_exact(), kExitDone);
  EXPECT_EQ(folder_list("g"), line("crlf", "Line Ends") + line("styled", "Gold Keep 'of'") +
                                  line("tabs", "Tab Separated") + line("untitled", ""));
}

TEST_F(ExactScan, TheCopyAGameLoadsWins) {
  const auto archive_with = [](const std::string& title) {
    return tools::pack_archive({{"maps/dm1.bsp", playable(title)}});
  };
  for (const std::string folder : {"loose", "packs"}) {
    tree_.write_file("base/" + folder + "/pak0.pak", archive_with("From pak0"));
    tree_.write_file("base/" + folder + "/pak1.pak", archive_with("From pak1"));
    tree_.write_file("base/" + folder + "/PAK10.PAK", archive_with("From pak10"));
    tree_.write_file("base/" + folder + "/pak9x.pak", archive_with("From pak9x"));
  }
  tree_.write_file("base/loose/maps/DM1.bsp", playable("Loose"));
  // Within one archive the first entry wins; an unplayable copy hides nothing.
  tree_.write_file("base/first/pak0.pak",
                   tools::pack_archive({{"maps/dm2.bsp", playable("First")},
                                        {"maps/DM2.bsp", playable("Second")}}));
  tree_.write_file(
      "base/first/pak1.pak",
      tools::pack_archive({{"maps/dm2.bsp", bsp_map(MapLayout::kVersion29, "", 100)}}));
  EXPECT_EQ(run_exact(), kExitDone);
  EXPECT_EQ(folder_list("loose"), line("DM1", "Loose"));
  EXPECT_EQ(folder_list("packs"), line("dm1", "From pak9x"));
  EXPECT_EQ(folder_list("first"), line("dm2", "First"));
}

TEST_F(ExactScan, DamagedInputYieldsNothingAndStopsNothing) {
  std::string truncated = tools::pack_archive({{"maps/lost.bsp", playable("Lost")}});
  truncated.resize(truncated.size() - 10);
  tree_.write_file("base/g/pak0.pak", truncated);
  std::string lump_past_end = bsp_map(MapLayout::kVersion29, playable_text("Past End"), 3000, 2900);
  lump_past_end.resize(2950);
  tree_.write_file("base/g/maps/cut.bsp", lump_past_end);
  tree_.write_file("base/g/maps/empty.bsp", "");
  tree_.write_file("base/g/maps/held.bsp", playable("Held"));
  tree_.write_file("base/g/maps/fine.bsp", playable("Fine"));
  {
    const testing::LockHolder held(tree_.path("base/g/maps/held.bsp"));
    EXPECT_EQ(run_exact(), kExitDone);
  }
  // No empty-title line for the file that could not be read.
  EXPECT_EQ(folder_list("g"), line("fine", "Fine"));
}

// A line the folder list cannot take ends the folder's lines there: no later line is tried,
// and both lists keep what they held.
TEST_F(ExactScan, ALineTheListCannotTakeEndsTheFoldersLines) {
  // A line longer than a list's buffer goes to the file at once, in a write call of its own.
  const std::string long_title(kListBufferLength, 'T');
  tree_.write_file("base/g/maps/a.bsp", playable(long_title));
  tree_.write_file("base/g/maps/b.bsp", playable(long_title));
  const std::string old = line("old", "Old");
  tree_.write_file("base/g/maps.lst", old);
  tree_.write_file("base/maps.lst", old);
  // The first write call is the run's own folder list; the second, a's line.
  faulty_.fail(testing::OsCall::kWriteFile, 2, os::kErrorHandleDiskFull,
               testing::Repeat::kFromThenOn);
  EXPECT_EQ(run_exact(), kExitDone);
  EXPECT_EQ(faulty_.count(testing::OsCall::kWriteFile), 2);
  EXPECT_EQ(folder_list("g"), old);
  EXPECT_EQ(tree_.read_file("base/maps.lst"), old);
}

TEST(NaturalOrder, ComparesDigitRunsByValueAndOtherBytesFoldingCase) {
  const std::vector<std::string> sorted = {"",     "1",     "01", "2",   "a",    "A2", "a10",
                                           "e1m2", "E1M10", "e2", "e2m", "E2m1", "_x"};
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    for (std::size_t j = 0; j < sorted.size(); ++j) {
      EXPECT_EQ(natural_less(sorted[i], sorted[j]), i < j) << sorted[i] << " / " << sorted[j];
    }
  }
  // Equal in every piece, raw bytes decide.
  EXPECT_TRUE(natural_less("DM1", "dm1"));
}

TEST(PackLoadOrder, NumbersByValueThenOtherNamesInTheOrderFound) {
  const std::vector<std::string> found = {"pakx.pak", "PAK10.PAK", "pak01.pak", "pak1.pak",
                                          "pak2.pak", "pak.pak",   "pak0.pak"};
  const std::vector<std::size_t> order = pack_load_order(found);
  std::vector<std::string> loaded;
  for (const std::size_t i : order) loaded.push_back(found[i]);
  EXPECT_EQ(loaded, (std::vector<std::string>{"pak0.pak", "pak01.pak", "pak1.pak", "pak2.pak",
                                              "PAK10.PAK", "pakx.pak", "pak.pak"}));
}

}  // namespace
}  // namespace mapsweep
