// The scan context as the start of a run builds it: the markers byte for byte and the
// three arrays, which the scans search and fill.
#include "app/scan_context.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scan_tree.h"

namespace mapsweep {
namespace {

class ScanContextTest : public ::testing::Test, protected testing::ScanTree {};

TEST_F(ScanContextTest, BuildsTheMarkersByteForByte) {
  EXPECT_EQ(ctx_.next_map_marker, "nextmap\" \"");
  EXPECT_EQ(ctx_.world_marker, "classname\" \"worldspawn\"\n");
  EXPECT_EQ(ctx_.world_marker.size(), 24u);
  EXPECT_EQ(ctx_.title_marker, "message\" \"");
  EXPECT_EQ(ctx_.map_prefix, "maps/");
  EXPECT_EQ(ctx_.map_suffix, ".bsp");
  EXPECT_TRUE(ctx_.archive_names.ends.empty());
  for (const StringArray* array : {&ctx_.list_lines, &ctx_.archive_titles}) {
    EXPECT_TRUE(array->created);
    EXPECT_EQ(array->lower, 0);
    EXPECT_EQ(array->upper, kArrayUpperBound);
  }
  EXPECT_FALSE(rt_.err.pending());
}

}  // namespace
}  // namespace mapsweep
