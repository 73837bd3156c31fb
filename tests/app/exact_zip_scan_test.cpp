// Exact mode over zip archives (*.pk3): stored and deflated maps, which copy a game loads
// among PACK archives, zip archives and loose files, and archives that are damaged,
// encrypted, in ZIP64 form or expand far past what they claim.
#include <gtest/gtest.h>

#include <string>

#include "program_tree.h"
#include "support/zip_writer.h"

namespace mapsweep {
namespace {

using testing::ZipMember;
using tools::MapLayout;

std::string playable(const std::string& message, std::size_t size = 3000) {
  return tools::bsp_map(MapLayout::kIbsp46,
                        tools::entity_text({{{"classname", "worldspawn"}, {"message", message}},
                                            {{"classname", "info_player_start"}}}),
                        size);
}

std::string line(const std::string& name, const std::string& title) {
  return name + " \"" + title + "\"\r\n";
}

ZipMember member(const std::string& name, const std::string& data, bool deflated = false) {
  ZipMember m;
  m.name = name;
  m.data = data;
  m.deflated = deflated;
  return m;
}

class ExactZipScan : public testing::ProgramTree {};

TEST_F(ExactZipScan, ListsStoredAndDeflatedMapsAndZip64Archives) {
  tree_.write_file("base/g/maps.pk3",
                   testing::zip_archive({member("maps/stored.bsp", playable("Stored")),
                                         member("maps/deflated.bsp", playable("Deflated"), true),
                                         member("textures/wall.tga", "pixels", true)}));
  tree_.write_file(
      "base/g/more.PK3",
      testing::zip_archive({member("MAPS/Wide.bsp", playable("Wide"), true)}, {true, ""}));
  EXPECT_EQ(run_exact(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/g/maps.lst"),
            line("deflated", "Deflated") + line("stored", "Stored") + line("Wide", "Wide"));
}

TEST_F(ExactZipScan, LooseBeatsZipBeatsPackAndTheLaterZipWins) {
  const auto zip_with = [](const std::string& title) {
    return testing::zip_archive({member("maps/dm1.bsp", playable(title), true)});
  };
  for (const std::string folder : {"loose", "zips", "one"}) {
    tree_.write_file("base/" + folder + "/pak0.pak",
                     tools::pack_archive({{"maps/dm1.bsp", playable("From pak0")}}));
    tree_.write_file("base/" + folder + "/a.pk3", zip_with("From a"));
  }
  tree_.write_file("base/loose/b.pk3", zip_with("From b"));
  tree_.write_file("base/zips/b.pk3", zip_with("From b"));
  tree_.write_file("base/loose/maps/dm1.bsp", playable("Loose"));
  EXPECT_EQ(run_exact(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/loose/maps.lst"), line("dm1", "Loose"));
  EXPECT_EQ(tree_.read_file("base/zips/maps.lst"), line("dm1", "From b"));
  EXPECT_EQ(tree_.read_file("base/one/maps.lst"), line("dm1", "From a"));
}

TEST_F(ExactZipScan, DamagedEncryptedAndExpandingArchivesCostNothingAndStopNothing) {
  // Deflated data stored as if it were its own size: it inflates to far more than that.
  std::string huge = playable("Expanding");
  huge.append(80u << 20, '\0');
  ZipMember expanding = member("maps/expanding.bsp", testing::raw_deflate(huge));
  expanding.method = 8;
  ZipMember encrypted = member("maps/secret.bsp", playable("Secret"));
  encrypted.flags = 1;
  std::string cut = testing::zip_archive({member("maps/cut.bsp", playable("Cut"))});
  cut.resize(cut.size() - 30);  // into the central directory
  std::string damaged = testing::raw_deflate(playable("Damaged"));
  damaged[damaged.size() / 2] ^= 0x55;
  ZipMember broken = member("maps/broken.bsp", damaged);
  broken.method = 8;
  tree_.write_file("base/g/a.pk3", testing::zip_archive({expanding, encrypted, broken}));
  tree_.write_file("base/g/b.pk3", cut);
  tree_.write_file("base/g/c.pk3",
                   testing::zip_archive({member("maps/fine.bsp", playable("Fine"), true)}));
  EXPECT_EQ(run_exact(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/g/maps.lst"),
            line("expanding", "Expanding") + line("fine", "Fine"));
}

}  // namespace
}  // namespace mapsweep
