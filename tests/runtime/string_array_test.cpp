// String arrays: created once, grown on demand, never read or written outside storage.
#include "runtime/string_array.h"

#include <gtest/gtest.h>

namespace mapsweep {
namespace {

TEST(StringArray, StartsEmptyAndKeepsValuesWhenCreatedAgain) {
  ErrorState err;
  StringArray array;
  create_array(err, array, 0, 2000);
  ASSERT_TRUE(array.created);
  EXPECT_EQ(array.elements.size(), 2001u);
  EXPECT_EQ(element(array, 2000), "");
  assign_element(err, array, 5, ByteString("e1m1"));
  create_array(err, array, 0, 10);
  EXPECT_EQ(element(array, 5), "e1m1");
  EXPECT_EQ(array.upper, 2000);
  EXPECT_FALSE(err.pending());
}

TEST(StringArray, GrowsWhenStoringPastTheUpperBound) {
  ErrorState err;
  StringArray array;
  create_array(err, array, 0, 2000);
  assign_element(err, array, 2001, ByteString("past the bound"));
  assign_element(err, array, 5000, ByteString("far past"));
  EXPECT_FALSE(err.pending());
  EXPECT_EQ(element(array, 2001), "past the bound");
  EXPECT_EQ(element(array, 4999), "");
  EXPECT_EQ(element(array, 5000), "far past");
  EXPECT_EQ(array.upper, 5000);
  EXPECT_EQ(element(array, 5001), "") << "reading beyond the bound gives the empty string";
}

TEST(StringArray, RefusesIndicesBelowTheLowerBoundAndUncreatedArrays) {
  ErrorState err;
  StringArray array;
  assign_element(err, array, 1, ByteString("x"));
  EXPECT_EQ(err.number(), rt_error::kSubscript);
  err.clear_error();
  create_array(err, array, 0, 3);
  assign_element(err, array, -1, ByteString("x"));
  EXPECT_TRUE(err.pending());
  EXPECT_EQ(err.number(), rt_error::kSubscript);
  EXPECT_EQ(element(array, -1), "");
}

TEST(StringArray, ReversedBoundsFailWithNine) {
  ErrorState err;
  StringArray array;
  create_array(err, array, 5, 4);
  EXPECT_EQ(err.number(), rt_error::kSubscript);
  EXPECT_FALSE(array.created);
}

TEST(StringArray, CopiedElementsAreIndependentOfTheirSource) {
  ErrorState err;
  StringArray array;
  create_array(err, array, 0, 3);
  ByteString title = "Lost Castle";
  assign_element(err, array, 1, title);
  title = "Red Keep";
  EXPECT_EQ(element(array, 1), "Lost Castle");
  release_array(err, array);
  EXPECT_FALSE(array.created);
  EXPECT_EQ(element(array, 1), "");
}

}  // namespace
}  // namespace mapsweep
