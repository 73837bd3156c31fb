// The driver's state and the byte search's as the start of a run builds them: the markers
// byte for byte and the three arrays, which the scans search and fill.
#include "app/scan_context.h"

#include <gtest/gtest.h>

#include <string>

#include "app/byte_search.h"
#include "support/scan_tree.h"

namespace mapsweep {
namespace {

class ScanContextTest : public ::testing::Test, protected testing::ScanTree {};

TEST_F(ScanContextTest, BuildsTheMarkersByteForByte) {
  EXPECT_EQ(search_.next_map_marker, "nextmap\" \"");
  EXPECT_EQ(search_.world_marker, "classname\" \"worldspawn\"\n");
  EXPECT_EQ(search_.world_marker.size(), 24u);
  EXPECT_EQ(search_.title_marker, "message\" \"");
  EXPECT_EQ(search_.map_prefix, "maps/");
  EXPECT_EQ(search_.map_suffix, ".bsp");
  EXPECT_TRUE(search_.archive_names.ends.empty());
  for (const StringArray* array : {&driver_.list_lines, &search_.archive_titles}) {
    EXPECT_TRUE(array->created);
    EXPECT_EQ(array->lower, 0);
    EXPECT_EQ(array->upper, kArrayUpperBound);
  }
  EXPECT_FALSE(rt_.err.pending());
}

}  // namespace
}  // namespace mapsweep
