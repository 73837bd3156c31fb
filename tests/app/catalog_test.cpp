// Whole catalogue runs: the lists come out as an exact run writes them, and the catalogue
// holds every map once with the copies it hides, its facts and its picture, replacing an
// old catalogue only when that holds nothing but what a run writes.
#include "app/catalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/catalog_json.h"
#include "app/catalog_page.h"
#include "app/layout_png.h"
#include "formats/byte_source.h"
#include "formats/layout_picture.h"
#include "formats/map_title.h"
#include "program_tree.h"
#include "runtime/dry_run_os.h"
#include "support/zip_writer.h"

namespace mapsweep {
namespace {

using tools::MapLayout;

constexpr char kGenerator[] = "mapsweep test";

std::string map_of(MapLayout layout, const std::vector<tools::EntityPairs>& blocks,
                   bool with_geometry = true) {
  const std::string text = tools::entity_text(blocks);
  if (!with_geometry) return tools::bsp_map(layout, text, 3000, 200);
  return tools::geometry_map(layout, tools::room_geometry(layout), text);
}

tools::EntityPairs world(const std::string& message) {
  return {{"classname", "worldspawn"}, {"message", message}};
}
tools::EntityPairs block(const std::string& classname) {
  return {{"classname", classname}};
}

// The picture a map's bytes draw, as the catalogue stores it.
std::string png_of(const std::string& map) {
  formats::MemorySource source(map);
  const std::optional<formats::LayoutPicture> picture = formats::draw_map_layout(source);
  return picture ? layout_png(*picture) : std::string();
}

class CatalogRun : public testing::ProgramTree {
 protected:
  CatalogRun() {
    e1m1_old_ = map_of(MapLayout::kVersion29,
                       {world("The Slipgate"), block("info_player_start"), block("monster_army")});
    e1m1_ = map_of(MapLayout::kBsp2, {world("Slipgate Redux"),
                                      block("info_player_start"),
                                      block("info_player_coop"),
                                      block("monster_army"),
                                      block("monster_dog"),
                                      block("trigger_secret"),
                                      {{"classname", "trigger_changelevel"}, {"map", "e1m2"}}});
    dm1_ = map_of(MapLayout::kIbsp38, {world("Arena"), block("info_player_deathmatch")});
    start_ = map_of(MapLayout::kIbsp46,
                    {world("Intro \xE9"), block("info_player_start"), block("team_CTF_bluespawn")});
    q3dm1_ =
        map_of(MapLayout::kFbsp1, {world("<script>x</script>"), block("info_player_deathmatch")});
    nogeo_ = map_of(MapLayout::kVersion29, {world("Flat"), block("info_player_start")}, false);
    tree_.write_file("base/id1/pak0.pak",
                     tools::pack_archive({{"maps/e1m1.bsp", e1m1_old_}, {"maps/dm1.bsp", dm1_}}));
    tree_.write_file("base/id1/pak1.pak", tools::pack_archive({{"maps/E1M1.bsp", e1m1_}}));
    tree_.write_file("base/id1/maps/start.bsp", start_);
    testing::ZipMember member;
    member.name = "maps/q3dm1.bsp";
    member.data = q3dm1_;
    member.deflated = true;
    tree_.write_file("base/mod/maps.pk3", testing::zip_archive({member}));
    tree_.write_file("base/mod/maps/nogeo.bsp", nogeo_);
    // A file among the game folders is no folder the catalogue misses.
    tree_.write_file("base/engine", std::string(300, '\x7F'));
  }

  int run_catalog(bool dry_run = false) {
    options_.place = tree_.path("base/maps.catalog");
    options_.dry_run = dry_run;
    options_.generator = kGenerator;
    report_ = RunReport();
    report_.dry_run = dry_run;
    const RunOptions run_options{ScanMode::kCatalog, &report_, nullptr, Language::kEnglish,
                                 &options_};
    return run({kButtonYes}, [&](Runtime& rt) { build_map_lists(rt, run_options); });
  }

  CatalogMap record(const std::string& folder, const std::string& name, const std::string& map,
                    MapSource source, const std::string& picture) const {
    formats::MemorySource bytes(map);
    const formats::MapRead read = formats::read_loose_map(bytes);
    CatalogMap record;
    record.folder = folder;
    record.name = name;
    record.title = formats::display_title(read.message);
    record.message = read.message;
    record.source = std::move(source);
    record.family = std::string(read.family);
    record.size = map.size();
    record.modes = {read.facts.single, read.facts.coop, read.facts.deathmatch, read.facts.team};
    record.monsters = read.facts.monsters;
    record.secrets = read.facts.secrets;
    record.nextmap = read.nextmap;
    record.picture = picture;
    return record;
  }

  // In the order the lists have them: folder by folder, names in natural order. Pictures
  // are numbered as the maps were read; the copy of e1m1 that lost gave its picture up.
  CatalogMaps expected() const {
    CatalogMap e1m1 =
        record("id1", "E1M1", e1m1_, {"id1/pak1.pak", "maps/E1M1.bsp"}, "pictures/0/3.png");
    e1m1.shadows = {{"id1/pak0.pak", "maps/e1m1.bsp"}};
    return {record("id1", "dm1", dm1_, {"id1/pak0.pak", "maps/dm1.bsp"}, "pictures/0/2.png"), e1m1,
            record("id1", "start", start_, {"", "id1/maps/start.bsp"}, "pictures/0/4.png"),
            record("mod", "nogeo", nogeo_, {"", "mod/maps/nogeo.bsp"}, ""),
            record("mod", "q3dm1", q3dm1_, {"mod/maps.pk3", "maps/q3dm1.bsp"}, "pictures/0/5.png")};
  }

  CatalogOptions options_;
  RunReport report_;
  std::string e1m1_old_, e1m1_, dm1_, start_, q3dm1_, nogeo_;
};

TEST_F(CatalogRun, ListsEveryMapWithItsCopiesFactsAndPictureAndTheListsAsAnExactRun) {
  ASSERT_EQ(run_exact(), kExitDone);
  const testing::Files lists = files_named("maps.lst");
  ASSERT_EQ(run_catalog(), kExitDone);
  EXPECT_EQ(files_named("maps.lst"), lists);
  EXPECT_EQ(report_.catalog.outcome, CatalogOutcome::kWritten);

  const CatalogMaps maps = expected();
  EXPECT_EQ(tree_.read_file("base/maps.catalog/maps.json"), catalog_json(maps, kGenerator));
  EXPECT_EQ(tree_.read_file("base/maps.catalog/index.html"),
            catalog_page(maps, catalog_json(maps, kGenerator, true)));
  const testing::Files pictures = files_named("maps.catalog/pictures/");
  EXPECT_EQ(pictures, (testing::Files{{"base/maps.catalog/pictures/0/2.png", png_of(dm1_)},
                                      {"base/maps.catalog/pictures/0/3.png", png_of(e1m1_)},
                                      {"base/maps.catalog/pictures/0/4.png", png_of(start_)},
                                      {"base/maps.catalog/pictures/0/5.png", png_of(q3dm1_)}}));
  for (const auto& [path, bytes] : pictures) EXPECT_TRUE(bytes.starts_with("\x89PNG")) << path;
  EXPECT_EQ(report_.catalog.maps, 5u);
  EXPECT_EQ(report_.catalog.pictures, 4u);
  EXPECT_TRUE(files_named(".mapsweep-").empty());
  EXPECT_EQ(tree_.read_file("outside/keep.txt"), "untouched\r\n");
}

// Pictures are written a while after they are drawn. A copy that loses after its picture was
// written takes the file away again, one that loses before never has it written; either
// way the catalogue holds the picture of every map it lists and of nothing else.
TEST_F(CatalogRun, APictureOfACopyThatLostIsNotKeptHoweverLongAgoItWasDrawn) {
  std::vector<tools::PackFile> members;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "m" + std::to_string(10 + i);
    members.push_back({"maps/" + name + ".bsp",
                       map_of(MapLayout::kIbsp38, {world(name), block("info_player_start")})});
  }
  tree_.write_file("base/zmany/pak0.pak", tools::pack_archive(members));
  tree_.write_file("base/zmany/pak1.pak", tools::pack_archive({members.front()}));
  ASSERT_EQ(run_catalog(), kExitDone);
  const testing::Files pictures = files_named("maps.catalog/pictures/");
  // Pictures 1 to 5 come before the folder (1 lost), then its twenty, 6 to 25, and the
  // copy of m10 that wins, 26; the copy of m10 that lost had picture 6, sixteen and more
  // pictures before the folder's end.
  EXPECT_EQ(report_.catalog.pictures, 4u + 20u);
  EXPECT_EQ(pictures.size(), report_.catalog.pictures);
  EXPECT_FALSE(pictures.contains("base/maps.catalog/pictures/0/6.png"));
  EXPECT_TRUE(pictures.contains("base/maps.catalog/pictures/0/26.png"));
  EXPECT_FALSE(pictures.contains("base/maps.catalog/pictures/0/1.png"));
}

TEST_F(CatalogRun, AnOldCatalogueIsReplacedWholeUnlessItHoldsFilesNoRunWrites) {
  tree_.write_file("base/maps.catalog/pictures/0/9.png", "old");
  tree_.write_file("base/maps.catalog/index.html", "old");
  ASSERT_EQ(run_catalog(), kExitDone);
  EXPECT_FALSE(tree_.exists("base/maps.catalog/pictures/0/9.png"));
  EXPECT_EQ(tree_.read_file("base/maps.catalog/maps.json"), catalog_json(expected(), kGenerator));

  tree_.write_file("base/maps.catalog/notes.txt", "mine");
  const testing::Files before = files_named("maps.catalog");
  ASSERT_EQ(run_catalog(), kExitDone);
  EXPECT_EQ(report_.catalog.outcome, CatalogOutcome::kKept);
  EXPECT_EQ(files_named("maps.catalog"), before);
  EXPECT_TRUE(files_named(".mapsweep-").empty());
}

TEST_F(CatalogRun, ADryRunCountsWhatItWouldWriteAndWritesNoneOfIt) {
  const testing::Files before = tree_.files();
  DryRunOs dry_run(faulty_);
  options_ = {tree_.path("base/maps.catalog"), true, kGenerator};
  RunReport report;
  report.dry_run = true;
  const RunOptions run_options{ScanMode::kCatalog, &report, nullptr, Language::kEnglish, &options_};
  dialog_ = testing::ScriptedDialog({kButtonYes});
  faulty_.set_current_directory(tree_.path("base"));
  ASSERT_EQ(program_entry(dry_run, dialog_, [&](Runtime& rt) { build_map_lists(rt, run_options); }),
            kExitDone);
  EXPECT_EQ(tree_.files(), before);
  EXPECT_FALSE(tree_.exists("base/maps.catalog"));
  EXPECT_EQ(report.catalog.outcome, CatalogOutcome::kWritten);
  EXPECT_EQ(report.catalog.maps, 5u);
  EXPECT_EQ(report.catalog.pictures, 4u);
}

}  // namespace
}  // namespace mapsweep
