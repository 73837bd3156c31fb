// Byte string operations: 1-based positions, unsigned counts, byte-exact searches, and the
// two case conversions with their code-page-437 letters.
#include "runtime/byte_string.h"

#include <gtest/gtest.h>

namespace mapsweep {
namespace {

using namespace std::string_literals;

class ByteStringTest : public ::testing::Test {
 protected:
  ErrorState err;
  void TearDown() override { EXPECT_FALSE(err.pending()) << "no operation here may fail"; }
};

TEST_F(ByteStringTest, FindFromCountsFromOneAndTreatsEmptyNeedlesAsTheStart) {
  EXPECT_EQ(find_from(1, "abc", ""), 1);
  EXPECT_EQ(find_from(3, "abc", ""), 3);
  EXPECT_EQ(find_from(4, "abc", ""), 0);
  EXPECT_EQ(find_from(1, "", ""), 0);
  EXPECT_EQ(find_from(0, "abc", "a"), 0);
  EXPECT_EQ(find_from(-5, "abc", "a"), 0);
  EXPECT_EQ(find_from(2, "abcabc", "abc"), 4);
  EXPECT_EQ(find_from(1, "ab", "abc"), 0);
  EXPECT_EQ(find_from(1, "xxab", "ab"), 3);
  EXPECT_EQ(find_from(4, "abcab", "ab"), 4);
  EXPECT_EQ(find_from(5, "abcab", "ab"), 0) << "an occurrence must lie wholly inside";
}

TEST_F(ByteStringTest, SearchesAreByteExactIncludingNulAndHighBytes) {
  const ByteString hay = "a\0b\xE4"s;
  EXPECT_EQ(find_from(1, hay, "\0b"s), 2);
  EXPECT_EQ(find_from(1, hay, "\xE4"), 4);
  EXPECT_EQ(find_from(1, "Maps/", "maps/"), 0);
  EXPECT_EQ(count_occurrences("a\0a\0a"s, "\0"s), 2u);
}

TEST_F(ByteStringTest, CountOccurrencesNeverOverlaps) {
  EXPECT_EQ(count_occurrences("aaaa", "aa"), 2u);
  EXPECT_EQ(count_occurrences("aaaaa", "aa"), 2u);
  EXPECT_EQ(count_occurrences("abc", ""), 0u);
  EXPECT_EQ(count_occurrences("", "a"), 0u);
  EXPECT_EQ(count_occurrences("name.ext", "."), 1u);
  EXPECT_EQ(count_occurrences("ab", "abc"), 0u);
}

TEST_F(ByteStringTest, TextBeforeCutsAtTheFirstDelimiterOnly) {
  EXPECT_EQ(text_before(err, "abc", "x"), "abc");
  EXPECT_EQ(text_before(err, "abc", "a"), "");
  EXPECT_EQ(text_before(err, "a.b.c", "."), "a");
  EXPECT_EQ(text_before(err, "abc", ""), "abc");
  EXPECT_EQ(text_before(err, "", "."), "");
}

TEST_F(ByteStringTest, SubstringTakesCountAsUnsigned) {
  EXPECT_EQ(substring(err, "abcdef", 3, 2), "cd");
  EXPECT_EQ(substring(err, "abcdef", 5, 40), "ef");
  EXPECT_EQ(substring(err, "abcdef", 7, 1), "");
  EXPECT_EQ(substring(err, "abcdef", 0, 3), "");
  EXPECT_EQ(substring(err, "abcdef", 2, -1), "bcdef");
  EXPECT_EQ(substring(err, "abcdef", 2, 0), "");
  EXPECT_EQ(substring(err, "", 1, 1), "");
}

TEST_F(ByteStringTest, LeftAndRightPartsKeepTheWholeStringForLargeOrNegativeCounts) {
  EXPECT_EQ(left_part(err, "abc", 5), "abc");
  EXPECT_EQ(left_part(err, "abc", -2), "abc");
  EXPECT_EQ(left_part(err, "abc", 2), "ab");
  EXPECT_EQ(left_part(err, "abc", 0), "");
  EXPECT_EQ(right_part(err, "abcdef", 2), "ef");
  EXPECT_EQ(right_part(err, "abc", 0), "");
  EXPECT_EQ(right_part(err, "abc", -1), "abc");
}

TEST_F(ByteStringTest, CaseConversionsKnowAsciiAndSevenCodePage437Pairs) {
  EXPECT_EQ(to_upper(err, "maps"), "MAPS");
  EXPECT_EQ(to_upper(err, "\x84\x61\x7B"), "\x8E\x41\x7B");
  EXPECT_EQ(to_upper(err, "\x84\x94\x81\x82\xA4\x86\x87"), "\x8E\x99\x9A\x90\xA5\x8F\x80");
  EXPECT_EQ(to_lower(err, "\x8E\x99\x9A\x90\xA5\x8F\x80"), "\x84\x94\x81\x82\xA4\x86\x87");
  EXPECT_EQ(to_lower(err, "E1M1.BSP"), "e1m1.bsp");
  // Bytes outside the table pass unchanged both ways, NUL and '@' '[' '`' '{' included.
  const ByteString others = "\xE4\xC4\x00@[`{\xFF"s;
  EXPECT_EQ(to_upper(err, others), others);
  EXPECT_EQ(to_lower(err, others), others);
}

TEST_F(ByteStringTest, CompareUsesUnsignedBytesThenLength) {
  EXPECT_LT(compare("abc", "abd"), 0);
  EXPECT_LT(compare("ab", "abc"), 0);
  EXPECT_EQ(compare("", ""), 0);
  EXPECT_GT(compare("a", "A"), 0);
  EXPECT_NE(compare("MAPS", "maps"), 0);
  EXPECT_GT(compare("\xE4", "a"), 0) << "0xE4 is above 'a' as an unsigned byte";
  EXPECT_LT(compare("a"s, "a\0"s), 0);
}

TEST_F(ByteStringTest, NulBytesSurviveEveryOperation) {
  const ByteString with_nul = "a\0b"s;
  EXPECT_EQ(length_of(with_nul), 3u);
  EXPECT_EQ(concat(err, with_nul, with_nul), "a\0ba\0b"s);
  EXPECT_EQ(substring(err, with_nul, 2, 2), "\0b"s);
  ByteString copy;
  assign(err, copy, with_nul);
  EXPECT_EQ(copy, with_nul);
}

TEST_F(ByteStringTest, CharStringTakesTheLowEightBits) {
  EXPECT_EQ(char_string(err, 34), "\"");
  EXPECT_EQ(char_string(err, 256), "\0"s);
  EXPECT_EQ(char_string(err, 321), "A");
}

TEST_F(ByteStringTest, AssigningAVariableToItselfKeepsItsValue) {
  ByteString s = "keep";
  assign(err, s, s);
  EXPECT_EQ(s, "keep");
}

TEST(StorageExhaustion, RaisesSevenAndReturnsTheFallback) {
  ErrorState err;
  const ByteString result = with_storage(
      err, []() -> ByteString { throw std::bad_alloc(); }, [] { return ByteString("fallback"); });
  EXPECT_EQ(result, "fallback");
  EXPECT_TRUE(err.pending());
  EXPECT_EQ(err.number(), rt_error::kOutOfStorage);
}

}  // namespace
}  // namespace mapsweep
