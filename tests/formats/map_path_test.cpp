// Which archive paths name maps, and the name each one gives.
#include "formats/map_path.h"

#include <gtest/gtest.h>

namespace mapsweep::formats {
namespace {

TEST(MapPath, NameKeepsItsBytesAndCase) {
  EXPECT_EQ(map_name_of_path("maps/e1m1.bsp"), "e1m1");
  EXPECT_EQ(map_name_of_path("MAPS/E1M3.BSP"), "E1M3");
  EXPECT_EQ(map_name_of_path("Maps/Start.Bsp"), "Start");
  EXPECT_EQ(map_name_of_path("maps/x.bsp.bsp"), "x.bsp");
  EXPECT_EQ(map_name_of_path("maps/ \xE9.bsp"), " \xE9");
}

TEST(MapPath, OtherPathsAreNoMaps) {
  for (const char* path : {"maps/.bsp", "maps/debris/x.bsp", "maps//x.bsp", "maps/x.bs",
                           "maps/x.bspx", "maps\\x.bsp", "xmaps/x.bsp", "/maps/x.bsp",
                           "sound/x.bsp", "maps/x.BSQ", "", "maps/", ".bsp", "maps.bsp"}) {
    EXPECT_EQ(map_name_of_path(path), std::nullopt) << path;
  }
}

}  // namespace
}  // namespace mapsweep::formats
