// The catalogue's packed records: every map comes back as it went in, whatever its strings
// hold or weigh, across the chunks they are kept in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/catalog_record.h"

namespace mapsweep {
namespace {

CatalogMap sample(std::size_t n, std::size_t message_bytes) {
  CatalogMap map;
  map.folder = "mod" + std::to_string(n);
  map.name = "e1m" + std::to_string(n);
  map.title = "The Slipgate Complex \xE9\x01";
  map.message = std::string(message_bytes, static_cast<char>('a' + n % 26));
  map.message += std::string("\0\xFF", 2);
  map.source = {n % 2 == 0 ? "" : "id1/pak0.pak", "maps/e1m1.bsp"};
  for (std::size_t i = 0; i < n % 4; ++i) {
    map.shadows.push_back({"id1/pak" + std::to_string(i) + ".pak", "maps/E1M1.bsp"});
  }
  map.family = n % 3 == 0 ? "IBSP46" : "29";
  map.size = (std::uint64_t{1} << 40) + n;
  map.modes = {n % 2 == 0, n % 3 == 0, n % 5 == 0, n % 7 == 0};
  map.monsters = static_cast<std::uint32_t>(n * 1000);
  map.secrets = 0xFFFFFFFFu - static_cast<std::uint32_t>(n);
  map.nextmap = n % 2 == 0 ? "" : "e1m2";
  map.picture = n % 5 == 0 ? "" : "pictures/0/" + std::to_string(n) + ".png";
  return map;
}

TEST(CatalogMaps, GivesBackEveryMapAsItWentIn) {
  // Messages from none to longer than a chunk: lengths of one, two and three bytes, and
  // records that share a chunk, start a new one or fill one alone.
  const std::vector<std::size_t> message_bytes = {0,     1,      127,    128,     16383,
                                                  16384, 700000, 400000, 3 << 20, 5};
  std::vector<CatalogMap> added;
  CatalogMaps maps;
  EXPECT_TRUE(maps.empty());
  for (std::size_t n = 0; n < 3000; ++n) {
    added.push_back(sample(n, n < message_bytes.size() ? message_bytes[n] : n % 50));
    maps.push_back(added.back());
  }
  ASSERT_EQ(maps.size(), added.size());
  for (std::size_t n = 0; n < added.size(); ++n) ASSERT_EQ(maps[n], added[n]) << n;
}

TEST(CatalogMaps, AListGivesItsMapsInOrder) {
  const CatalogMaps maps = {sample(1, 3), CatalogMap{}, sample(2, 0)};
  ASSERT_EQ(maps.size(), 3u);
  EXPECT_EQ(maps[0], sample(1, 3));
  EXPECT_EQ(maps[1], CatalogMap{});
  EXPECT_EQ(maps[2], sample(2, 0));
}

}  // namespace
}  // namespace mapsweep
