// The map entry extraction: the windowed cut on hand-made chunks, its recovery when
// storage runs out, and its equivalence with a literal transcription of the step-by-step
// algorithm on many random chunks.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/byte_search.h"
#include "app/scan_context.h"
#include "failing_allocation.h"
#include "support/scan_tree.h"

namespace mapsweep {
namespace {

using Names = std::vector<std::string>;
using namespace std::string_literals;

class MapEntryExtractionTest : public ::testing::Test, protected testing::ScanTree {
 protected:
  Names extract(const std::string& chunk) {
    search_.chunk = chunk;
    search_.name_count = 0;
    release_list(search_.archive_names);
    map_entry_extraction(rt_.err, search_);
    return stored_names();
  }
};

TEST_F(MapEntryExtractionTest, DirectoryPathsInOrder) {
  EXPECT_EQ(extract("maps/e1m1.bsp\0maps/e1m2.bsp\0"s), (Names{"e1m1", "e1m2"}));
  EXPECT_EQ(extract("xxmaps/start.bsp\0yy maps/start.bsp\0"s), (Names{"start", "start"}));
  EXPECT_EQ(extract("maps/.bsp\0"s), (Names{""}));
  // A chunk that ends with the path: stored once, then the text is used up.
  EXPECT_EQ(extract("padding maps/e1m1.bsp"), (Names{"e1m1"}));
}

TEST_F(MapEntryExtractionTest, NothingWithoutBothPrefixAndLowerCaseSuffix) {
  EXPECT_EQ(extract(""), Names{});
  EXPECT_EQ(extract("maps/e1m1.BSP\0"s), Names{});
  EXPECT_EQ(extract("MAPS/e1m1.bsp\0"s), Names{});
  EXPECT_EQ(extract("sound/e1m1.wav maps/"), Names{});
}

TEST_F(MapEntryExtractionTest, SplitPathTakesTheNextPathsName) {
  // The border fell inside maps/e1m1.bsp: its suffix opens this chunk.
  EXPECT_EQ(extract("1m1.bsp\0...maps/e1m2.bsp\0"s), (Names{"e1m2", "e1m2"}));
}

TEST_F(MapEntryExtractionTest, LongNamesAreCutByTheWindows) {
  EXPECT_EQ(extract("maps/abcdefghijkl.bsp\0"s), (Names{"abcdefghijkl"}));
  EXPECT_EQ(extract("maps/abcdefghijklmno.bsp\0"s), (Names{"cdefghijklmno"}));
  EXPECT_EQ(extract("maps/abcdefghijklmno.bsp\0---maps/dm2.bsp\0"s), (Names{"dm2", "dm2"}));
  // A suffix with no name before it takes the next prefix's 20 bytes.
  EXPECT_EQ(extract(".bsp maps/abcdefghijklmnopqrstuvwxyz"), (Names{"abcdefghijklmnopqrst"}));
}

TEST_F(MapEntryExtractionTest, AdjacentPathLosesItsFirstByte) {
  EXPECT_EQ(extract("maps/dm2.bspmaps/dm3.bsp"), (Names{"dm2"}));
  EXPECT_EQ(extract("maps/dm2.bspmaps/dm3.bsp\0 later maps/dm4.bsp\0"s),
            (Names{"dm2", "dm4", "dm4"}));
}

TEST_F(MapEntryExtractionTest, NamesBeyondTwoThousandAreKept) {
  ByteSearchState& search = search_;
  search.name_count = kArrayUpperBound - 1;
  search.chunk = "maps/a.bsp\0maps/b.bsp\0maps/c.bsp\0"s;
  map_entry_extraction(rt_.err, search);
  EXPECT_EQ(search.name_count, kArrayUpperBound + 2);
  EXPECT_EQ(element(search.archive_names, kArrayUpperBound + 2), "c");
}

TEST_F(MapEntryExtractionTest, ExhaustedStorageLeavesTheChunkKeepingStoredNames) {
  ByteSearchState& search = search_;
  ErrorState& err = rt_.err;
  err.arm_recovery(kArchiveRecovery);
  // The names are cut without allocating (short strings); storing the first one, a slot
  // past the names stored so far, is the allocation that fails.
  search.chunk = "maps/.bsp\0maps/a.bsp"s;
  search.name_count = kArrayUpperBound - 1;
  testing::fail_allocation_after(0);
  map_entry_extraction(err, search_);
  testing::stop_failing_allocations();
  EXPECT_EQ(err.armed(), kArchiveRecovery);
  EXPECT_FALSE(err.pending());
  EXPECT_EQ(err.number(), rt_error::kOutOfStorage);
  // The count was raised for the name whose store failed, and the chunk was left.
  EXPECT_EQ(search.name_count, kArrayUpperBound);
  EXPECT_EQ(element(search.archive_names, kArrayUpperBound), "");
  // The next chunk is examined as usual, its name in the slot its count gives.
  search.chunk = "maps/e1m1.bsp\0"s;
  map_entry_extraction(err, search);
  EXPECT_EQ(element(search.archive_names, kArrayUpperBound + 1), "e1m1");
  EXPECT_EQ(element(search.archive_names, kArrayUpperBound), "");
}

// The algorithm as its steps state it, with the runtime's string operations: a copy of
// the remaining text per name, so quadratic, but plainly right.
Names literal_extraction(ErrorState& err, const ByteString& chunk) {
  const ByteString prefix = "maps/";
  const ByteString suffix = ".bsp";
  Names names;
  ByteString remaining = chunk;
  for (;;) {
    if (count_occurrences(remaining, suffix) == 0) return names;
    if (count_occurrences(remaining, prefix) == 0) return names;
    const std::int32_t p = find_from(1, remaining, suffix);
    const std::int32_t length = static_cast<std::int32_t>(length_of(remaining));
    const ByteString window = right_part(err, remaining, length - p + 18);
    const std::int32_t q = find_from(1, window, prefix);
    names.push_back(text_before(err, substring(err, window, q + 5, 20), suffix));
    const std::int32_t r = find_from(1, window, suffix);
    const std::int32_t rest = static_cast<std::int32_t>(length_of(window)) - (r + 4);
    remaining = rest > 0 ? right_part(err, window, rest) : ByteString();
  }
}

// Chunks made of the pieces that matter: paths whole and broken, prefixes, suffixes in
// both cases, short and long names, zero bytes and random bytes.
class ChunkGenerator {
 public:
  explicit ChunkGenerator(std::uint32_t seed) : random_(seed) {}

  std::string next() {
    std::string chunk;
    const int pieces = pick(0, pick(0, 9) == 0 ? 120 : 24);
    for (int i = 0; i < pieces; ++i) chunk += piece();
    return chunk;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string name() {
    static const char kLetters[] = "abcdemst0123_/.";
    std::string text;
    for (int n = pick(0, pick(0, 4) == 0 ? 30 : 14); n > 0; --n) text += kLetters[pick(0, 14)];
    return text;
  }

  std::string piece() {
    switch (pick(0, 11)) {
      case 0:
      case 1:
        return "maps/" + name() + ".bsp" + (pick(0, 1) ? "\0"s : ""s);
      case 2:
        return "maps/";
      case 3:
        return ".bsp";
      case 4:
        return ".BSP";
      case 5:
        return "maps/" + name() + ".BSP";
      case 6:
        return name();
      case 7:
        return std::string(static_cast<std::size_t>(pick(1, 20)), '\0');
      case 8:
        return "maps/" + name();
      case 9:
        return name() + ".bsp";
      case 10:
        return std::string("maps/.bsp").substr(static_cast<std::size_t>(pick(0, 8)));
      default: {
        std::string bytes;
        for (int n = pick(1, 12); n > 0; --n) bytes += static_cast<char>(pick(0, 255));
        return bytes;
      }
    }
  }

  std::mt19937 random_;
};

TEST_F(MapEntryExtractionTest, GivesTheLiteralAlgorithmsNamesOnRandomChunks) {
  constexpr int kChunks = 120000;
  ChunkGenerator generator(20240611);
  ErrorState literal_err;
  long names_compared = 0;
  for (int i = 0; i < kChunks; ++i) {
    const std::string chunk = generator.next();
    const Names expected = literal_extraction(literal_err, chunk);
    ASSERT_EQ(extract(chunk), expected) << "chunk " << i << ": " << ::testing::PrintToString(chunk);
    names_compared += static_cast<long>(expected.size());
  }
  // The generator must really produce paths, or the comparison proves little.
  EXPECT_GT(names_compared, kChunks);
}

}  // namespace
}  // namespace mapsweep
