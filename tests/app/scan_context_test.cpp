// The scan context as the start of a run builds it: the markers byte for byte and the
// three arrays, which the scans search and fill.
#include "app/scan_context.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/scan_harness.h"

namespace mapsweep {
namespace {

TEST(ScanContextTest, BuildsTheMarkersByteForByte) {
  const std::unique_ptr<os::Os> os = os::make_native_os();
  testing::ScanHarness harness(*os);
  const ScanContext& ctx = harness.ctx;
  EXPECT_EQ(ctx.next_map_marker, "nextmap\" \"");
  EXPECT_EQ(ctx.world_marker, "classname\" \"worldspawn\"\n");
  EXPECT_EQ(ctx.world_marker.size(), 24u);
  EXPECT_EQ(ctx.title_marker, "message\" \"");
  EXPECT_EQ(ctx.map_prefix, "maps/");
  EXPECT_EQ(ctx.map_suffix, ".bsp");
  EXPECT_TRUE(ctx.archive_names.ends.empty());
  for (const StringArray* array : {&ctx.list_lines, &ctx.archive_titles}) {
    EXPECT_TRUE(array->created);
    EXPECT_EQ(array->lower, 0);
    EXPECT_EQ(array->upper, kArrayUpperBound);
  }
  EXPECT_FALSE(harness.rt.err.pending());
}

}  // namespace
}  // namespace mapsweep
