// The list consolidation: which lines of a maps.lst stay, what the rewritten file holds,
// and that the sort-based selection agrees with the pair-by-pair comparison.
#include "app/list_consolidation.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/scan_context.h"
#include "runtime/file_channels.h"
#include "support/faulty_os.h"
#include "support/scan_tree.h"

namespace mapsweep {
namespace {

using testing::OsCall;

// Runs the consolidation over a maps.lst holding `bytes`, in a fresh runtime.
class Consolidation : public ::testing::Test, protected testing::ScanTree {
 protected:
  std::string consolidate(const std::string& bytes) {
    tree_.write_file("maps.lst", bytes);
    run();
    return tree_.read_file("maps.lst");
  }

  void run() {
    rt_.err.arm_recovery(kGeneralRecovery);
    list_consolidation(driver_);
  }
};

TEST_F(Consolidation, KeepsFirstOfEqualLinesAndLongerOfPrefixPairs) {
  EXPECT_EQ(consolidate("x\r\ne1m1 \"A\"\r\ny\r\nz\r\ne1m1 \"A\"\r\n"),
            "x\r\ne1m1 \"A\"\r\ny\r\nz\r\n");
  // A map name alone begins the line with its title, in either order.
  EXPECT_EQ(consolidate("e1m1\r\ne1m1 \"Castle\"\r\n"), "e1m1 \"Castle\"\r\n");
  EXPECT_EQ(consolidate("e1m1 \"Castle\"\r\ne1m1\r\n"), "e1m1 \"Castle\"\r\n");
  EXPECT_EQ(consolidate("a\r\nab\r\nabc\r\n"), "abc\r\n");
  EXPECT_EQ(consolidate("abc\r\nab\r\na\r\n"), "abc\r\n");
  // A repeated line that also begins another goes with all its copies.
  EXPECT_EQ(consolidate("ab\r\nabc\r\nab\r\n"), "abc\r\n");
}

TEST_F(Consolidation, KeepsLinesThatDifferInTitleOrLetterCase) {
  EXPECT_EQ(consolidate("dm3 \"Abyss\"\r\ndm3 \"\"\r\ndm3 \"Pit\"\r\nDM3 \"Abyss\"\r\n"),
            "dm3 \"Abyss\"\r\ndm3 \"\"\r\ndm3 \"Pit\"\r\nDM3 \"Abyss\"\r\n");
}

TEST_F(Consolidation, EmptyLinesAndEmptyFilesLeaveAnEmptyFile) {
  EXPECT_EQ(consolidate("\r\n\r\n\r\n"), "");
  EXPECT_TRUE(tree_.exists("maps.lst"));
  EXPECT_EQ(consolidate(""), "");
  EXPECT_TRUE(tree_.exists("maps.lst"));
  EXPECT_EQ(consolidate("a\r\n\r\nb\r\n"), "a\r\nb\r\n");
}

TEST_F(Consolidation, ReadsLinesAsTheLineReaderCutsThem) {
  EXPECT_EQ(consolidate("a\r\nlast"), "a\r\nlast\r\n");
  // A CR alone ends a line; a lone LF stays in its line.
  EXPECT_EQ(consolidate("left\rright\r\n"), "left\r\nright\r\n");
  EXPECT_EQ(consolidate("one\ntwo\r\n"), "one\ntwo\r\n");
}

TEST_F(Consolidation, ReadsPastAnEndOfTextByte) {
  EXPECT_EQ(consolidate("a\x1A"
                        "b\r\nafter\r\n\x1A\r\n"),
            "a\x1A"
            "b\r\nafter\r\n\x1A\r\n");
}

TEST_F(Consolidation, StartsEveryRunWithNoLinesAndEndsWithNone) {
  consolidate("first\r\nsecond\r\n");
  EXPECT_EQ(driver_.entry_count, 0);
  EXPECT_EQ(consolidate("third\r\n"), "third\r\n");
}

TEST_F(Consolidation, ConsolidatesAHundredThousandLines) {
  std::string bytes;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    const std::string line = "m" + std::to_string(i % 50000) + " \"T\"";
    bytes += line + "\r\n";
    if (i < 50000) expected += line + "\r\n";
  }
  bytes += "m1\r\n";  // begins m1 "T" and m10.. lines
  EXPECT_EQ(consolidate(bytes), expected);
}

TEST_F(Consolidation, AMissingListIsAbandonedWithTheChannelClosed) {
  run();
  EXPECT_FALSE(tree_.exists("maps.lst"));
  EXPECT_FALSE(channel_is_open(rt_, kFolderListChannel));
  EXPECT_EQ(rt_.err.armed(), kArchiveRecovery);
  EXPECT_FALSE(rt_.err.pending());
}

TEST_F(Consolidation, AFailingReadLeavesTheListUntouchedAndTheChannelClosed) {
  tree_.write_file("maps.lst", std::string(300, 'a') + "\r\nb\r\nb\r\n");
  faulty_.fail(OsCall::kReadFile, 2, os::kErrorCrc);  // the second buffer fill
  run();
  EXPECT_EQ(tree_.read_file("maps.lst"), std::string(300, 'a') + "\r\nb\r\nb\r\n");
  EXPECT_FALSE(channel_is_open(rt_, kFolderListChannel));
  EXPECT_EQ(driver_.entry_count, 0);
}

TEST_F(Consolidation, AListHeldByAnotherOpenIsLeftAlone) {
  tree_.write_file("maps.lst", "a\r\na\r\n");
  faulty_.fail(OsCall::kCreateFile, 1, os::kErrorSharingViolation);
  run();
  EXPECT_EQ(tree_.read_file("maps.lst"), "a\r\na\r\n");
  EXPECT_FALSE(channel_is_open(rt_, kFolderListChannel));
}

// The comparison the consolidation is defined by, as written: every entry in turn empties
// each other entry that is a proper beginning of it or equal to it.
std::vector<std::string> pair_comparison(std::vector<std::string> entries) {
  const std::size_t n = entries.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::string current = entries[i];
    for (std::size_t j = 0; j < n; ++j) {
      if (j == i) continue;
      if (current.size() > entries[j].size() &&
          current.substr(0, entries[j].size()) == entries[j]) {
        entries[j].clear();
      }
      if (current == entries[j]) entries[j].clear();
    }
  }
  std::vector<std::string> kept;
  for (const std::string& e : entries) {
    if (!e.empty()) kept.push_back(e);
  }
  return kept;
}

std::vector<std::string> sorted_selection(const std::vector<std::string>& lines) {
  ErrorState err;
  StringArray array;
  create_array(err, array, 0, 3);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    assign_element(err, array, static_cast<std::int32_t>(i + 1), lines[i]);
  }
  std::vector<std::string> kept;
  for (const std::int32_t index : lines_that_stay(array, static_cast<std::int32_t>(lines.size()))) {
    kept.push_back(element(array, index));
  }
  return kept;
}

TEST(LinesThatStay, AgreesWithThePairComparison) {
  std::mt19937 random(20240611);
  // A tiny alphabet with bytes of both signs, so prefixes and repeats are frequent.
  const std::string alphabet = "ab\xff";
  for (int round = 0; round < 4000; ++round) {
    const int count = std::uniform_int_distribution<int>(0, round % 10 == 0 ? 300 : 40)(random);
    const int longest = std::uniform_int_distribution<int>(0, 6)(random);
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
      std::string line(std::uniform_int_distribution<std::size_t>(0, longest)(random), 'a');
      for (char& c : line) {
        c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
      }
      lines.push_back(line);
    }
    ASSERT_EQ(sorted_selection(lines), pair_comparison(lines)) << "round " << round;
  }
}

}  // namespace
}  // namespace mapsweep
