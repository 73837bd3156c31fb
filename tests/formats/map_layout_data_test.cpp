// A map's picture read from where it lies: stored in place or deflated in an archive, it is
// the picture the map's own bytes draw; and drawing pays from the reader's budget.
#include "formats/map_layout_data.h"

#include <gtest/gtest.h>

#include <string>

#include "formats/archive_maps.h"
#include "support/zip_writer.h"
#include "tools/map_archive_writer.h"

namespace mapsweep::formats {
namespace {

using tools::MapLayout;

std::string room_map(MapLayout layout) {
  const std::string text = tools::entity_text(
      {{{"classname", "worldspawn"}, {"message", "Room"}}, {{"classname", "info_player_start"}}});
  return tools::geometry_map(layout, tools::room_geometry(layout), text);
}

std::optional<LayoutPicture> direct(const std::string& map) {
  MemorySource source(map);
  return draw_map_layout(source);
}

TEST(MapLayoutData, StoredAndDeflatedMapsDrawWhatTheirOwnBytesDraw) {
  for (const MapLayout layout : tools::kAllMapLayouts) {
    SCOPED_TRACE(static_cast<int>(layout));
    // Behind a few bytes of something else, as inside an archive.
    const std::string map = room_map(layout);
    const std::optional<LayoutPicture> expected = direct(map);
    ASSERT_TRUE(expected.has_value());
    const std::string stored = "junk" + map;
    MemorySource stored_source(stored);
    MeteredReader stored_reader(stored_source);
    const auto from_stored = read_map_layout(stored_reader, {4, false, map.size(), map.size()});
    ASSERT_TRUE(from_stored.has_value());
    EXPECT_EQ(from_stored->levels, expected->levels);

    const std::string deflated = "junk" + testing::raw_deflate(map);
    MemorySource deflated_source(deflated);
    MeteredReader deflated_reader(deflated_source);
    const auto from_deflated =
        read_map_layout(deflated_reader, {4, true, deflated.size() - 4, map.size()});
    ASSERT_TRUE(from_deflated.has_value());
    EXPECT_EQ(from_deflated->levels, expected->levels);
  }
}

TEST(MapLayoutData, DamagedOrShortDataGivesNoPictureAndAnArchiveGivesOnePerTitledMap) {
  const std::string map = room_map(MapLayout::kIbsp46);
  const std::string deflated = testing::raw_deflate(map);
  std::string garbled = deflated;
  for (std::size_t i = garbled.size() / 3; i < garbled.size(); i += 7) garbled[i] ^= 0x5A;
  // Deflated data cut short before the lumps, or garbled.
  for (const auto& [bytes, data] :
       {std::pair{deflated, MapData{0, true, deflated.size() / 2, map.size()}},
        std::pair{garbled, MapData{0, true, garbled.size(), map.size()}}}) {
    MemorySource source(bytes);
    MeteredReader reader(source);
    EXPECT_FALSE(read_map_layout(reader, data).has_value());
  }
  // A budget spent before the lumps are read stops the reader: no picture.
  {
    MemorySource source(deflated);
    MeteredReader reader(source);
    while (reader.charge(1 << 20)) {
    }
    EXPECT_FALSE(read_map_layout(reader, {0, true, deflated.size(), map.size()}).has_value());
  }
  // Through the archive reader: a picture comes with a titled map only, when asked for.
  const std::string archive = tools::pack_archive(
      {{"maps/room.bsp", map},
       {"maps/flat.bsp",
        tools::bsp_map(MapLayout::kVersion29, "{\"classname\" \"worldspawn\"}", 2000)}});
  for (const bool asked : {false, true}) {
    MemorySource source(archive);
    int pictures = 0;
    read_archive_maps(
        source, ArchiveKind::kPack,
        [&](const ArchivedMap& found) {
          if (found.picture == nullptr) return;
          ++pictures;
          EXPECT_EQ(found.name, "room");
          EXPECT_EQ(found.picture->levels, direct(map)->levels);
        },
        asked);
    EXPECT_EQ(pictures, asked ? 1 : 0);
  }
}

}  // namespace
}  // namespace mapsweep::formats
