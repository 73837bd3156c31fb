// Finding the entity lump in each map layout, and refusing headers that are no map or
// whose lump lies outside the map.
#include "formats/map_header.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/map_archive_writer.h"

namespace mapsweep::formats {
namespace {

using tools::MapLayout;
using namespace std::string_literals;

std::string int32_le(std::int32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

std::optional<Lump> lump_of(const std::string& map) {
  return entity_lump(std::string_view(map).substr(0, kMapHeaderBytes), map.size());
}

TEST(MapHeader, EveryLayoutLeadsToItsEntityText) {
  const std::string text = "{\n\"classname\" \"worldspawn\"\n}\n";
  for (const MapLayout layout : tools::kAllMapLayouts) {
    for (const std::size_t at : {std::size_t{0}, std::size_t{4000}}) {
      const std::string map = tools::bsp_map(layout, text, 5000, at);
      const auto lump = lump_of(map);
      ASSERT_TRUE(lump) << static_cast<int>(layout);
      EXPECT_EQ(map.substr(lump->offset, lump->length), text + '\0');
    }
  }
}

TEST(MapHeader, UnknownLayoutsAreNoMaps) {
  const std::string table = int32_le(0) + int32_le(0);
  EXPECT_TRUE(entity_lump(int32_le(29) + table, 100));
  EXPECT_TRUE(entity_lump("IBSP" + int32_le(46) + table, 100));
  for (const std::string& lead :
       {int32_le(28), int32_le(31), "BSP1"s, "PSB2"s, "ibsp"s, "IBSP" + int32_le(39),
        "RBSP" + int32_le(38), "FBSP" + int32_le(0), "VBSP" + int32_le(1)}) {
    EXPECT_FALSE(entity_lump(lead + table, 100)) << lead;
  }
}

// Each layout's writer header names its family; the leads the entity lump refuses name none.
TEST(MapHeader, FamilyOfEveryLayoutAndNoneForTheRest) {
  struct Family {
    MapLayout layout;
    std::string_view name;
    std::size_t table_at;
  };
  const Family families[] = {
      {MapLayout::kVersion29, "29", 4},  {MapLayout::kVersion30, "30", 4},
      {MapLayout::kBsp2, "BSP2", 4},     {MapLayout::kBsp2Reversed, "BSP2", 4},
      {MapLayout::kIbsp38, "IBSP38", 8}, {MapLayout::kIbsp46, "IBSP46", 8},
      {MapLayout::kIbsp47, "IBSP47", 8}, {MapLayout::kRbsp1, "RBSP", 8},
      {MapLayout::kFbsp1, "FBSP", 8}};
  for (const Family& family : families) {
    const std::string map = tools::bsp_map(family.layout, "{}", 100);
    EXPECT_EQ(map_family(map), family.name);
    EXPECT_EQ(lump_table_offset(family.name), family.table_at) << family.name;
    // Cut before the version, a magic-and-version header names nothing yet.
    const std::string_view cut = family.table_at == 4 ? family.name : "";
    EXPECT_EQ(map_family(map.substr(0, 7)), cut) << family.name;
  }
  for (const std::string& lead : {int32_le(28), "BSP1"s, "ibsp"s, "IBSP" + int32_le(39),
                                  "RBSP" + int32_le(38), "FBSP" + int32_le(0), "IBS"s, ""s}) {
    EXPECT_EQ(map_family(lead + int32_le(0)), "") << lead;
  }
  EXPECT_EQ(lump_table_offset(""), 0u);
}

TEST(MapHeader, LumpMustLieWithinTheMap) {
  const auto version29 = [](std::int32_t offset, std::int32_t length) {
    return int32_le(29) + int32_le(offset) + int32_le(length);
  };
  EXPECT_FALSE(entity_lump(version29(-1, 4), 100));
  EXPECT_FALSE(entity_lump(version29(4, -1), 100));
  EXPECT_FALSE(entity_lump(version29(90, 11), 100));
  EXPECT_FALSE(entity_lump(version29(0x7FFFFFFF, 0x7FFFFFFF), 0xFFFFFFFDull));
  EXPECT_TRUE(entity_lump(version29(0x7FFFFFFF, 0x7FFFFFFF), 0xFFFFFFFEull));
  const auto whole = entity_lump(version29(90, 10), 100);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->offset, 90u);
  EXPECT_EQ(whole->length, 10u);
  // A 12-byte map: fewer than kMapHeaderBytes are there, the table's first pair is enough.
  EXPECT_TRUE(entity_lump(version29(0, 12), 12));
  // The table's first pair cut short, in the bytes or in the map.
  EXPECT_FALSE(entity_lump(version29(0, 0).substr(0, 11), 11));
  EXPECT_FALSE(entity_lump("IBSP" + int32_le(38) + int32_le(0) + "\0\0\0"s, 100));
  EXPECT_FALSE(entity_lump(version29(0, 0), 11));
}

}  // namespace
}  // namespace mapsweep::formats
