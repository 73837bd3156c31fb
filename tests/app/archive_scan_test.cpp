// The archive scan on folders of real PACK archives: the exact bytes of both lists after
// pairing names with titles, the title rules, chunk borders, several archives, and the
// archive recovery under injected OS failures.
#include <gtest/gtest.h>

#include <fstream>
#include <iomanip>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/byte_search.h"
#include "app/scan_context.h"
#include "runtime/file_channels.h"
#include "support/faulty_os.h"
#include "support/scan_tree.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

using namespace std::string_literals;
using testing::OsCall;
using testing::Repeat;
using tools::LineEnd;
using tools::WorldEntity;

constexpr std::size_t kEntityOffset = 100;

// Map data holding the world entity at a fixed offset.
std::string map_with(const WorldEntity& entity) {
  return tools::map_data(1000, kEntityOffset, tools::world_entity_text(entity));
}
std::string map_titled(const std::string& title) {
  return map_with({title, std::nullopt});
}
std::string map_without_entity() {
  return tools::map_data(1000, 0, "");
}

struct MapFile {
  std::string name;  // stored as maps/<name>.bsp
  std::string data;
};

// Every map's data starts a chunk of its own, so each world entity is examined in its
// own chunk; the directory follows the last map's data.
std::string archive_chunk_per_map(const std::vector<MapFile>& maps) {
  tools::PackBuilder pack;
  for (std::size_t i = 0; i < maps.size(); ++i) {
    const std::size_t at = i == 0 ? tools::kPackHeaderSize : i * kChunkSize;
    pack.add_file_at(at, "maps/" + maps[i].name + ".bsp", maps[i].data);
  }
  return pack.build();
}

std::string line(const std::string& name, const std::string& title) {
  return name + " \"" + title + "\"\r\n";
}

class ArchiveScanTest : public ::testing::Test, protected testing::ScanTree {
 protected:
  void add_archive(const std::string& name, const std::string& bytes,
                   const std::string& folder = "game") {
    tree_.write_file(folder + "/" + name, bytes);
  }

  // Enters the game folder and opens its maps.lst on channel 2 and the combined list (in
  // the tree's root) on channel 4, as the driver does before the scan. The lists write every
  // item at once, as a full buffer would, so that the failure cases below can fail the
  // write of one item of their choice.
  void open_lists(const std::string& folder = "game", bool combined = true) {
    tree_.make_dir(folder);
    ASSERT_EQ(faulty_.set_current_directory(tree_.path(folder)).value, 1);
    open_channel(rt_, kFolderListChannel, ByteString("maps.lst"), kOutputMode, 1);
    if (combined) {
      open_channel(rt_, kCombinedListChannel, tree_.path("maps.lst"), kOutputMode, 1);
    }
    ASSERT_FALSE(rt_.err.pending());
  }

  void run_scan() {
    archive_scan(driver_, search_);
    EXPECT_EQ(rt_.err.armed(), kArchiveRecovery);
    EXPECT_FALSE(rt_.err.pending());
    EXPECT_FALSE(channel_is_open(rt_, kDataChannel));
    EXPECT_EQ(search_.name_count, 0);
    EXPECT_EQ(search_.title_count, 0);
    EXPECT_TRUE(search_.file_name.empty());
    folder_written_ = written_to(kFolderListChannel);
    combined_written_ = written_to(kCombinedListChannel);
    // A list that a failed write kept from being replaced says so again here.
    close_all_channels(rt_);
    rt_.err.clear_error();
  }

  void scan(const std::string& folder = "game") {
    open_lists(folder);
    run_scan();
  }

  // Both lists must hold exactly these lines.
  void expect_lists(const std::string& expected, const std::string& folder = "game") {
    EXPECT_EQ(tree_.read_file(folder + "/maps.lst"), expected);
    EXPECT_EQ(tree_.read_file("maps.lst"), expected);
  }

  std::string folder_written_;
  std::string combined_written_;
};

TEST_F(ArchiveScanTest, PairsTitlesWithNamesInOrderOfDiscovery) {
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_titled("Lost Castle")},
                                                 {"e1m2", map_titled("Red Keep")},
                                                 {"e1m3", map_without_entity()}}));
  scan();
  // The third name has no title slot filled, so no line.
  expect_lists(line("e1m1", "Lost Castle") + line("e1m2", "Red Keep"));
  EXPECT_EQ(driver_.nothing_found, 0);
}

TEST_F(ArchiveScanTest, NextMapLineIsWrittenAtOnceAndTakesTheChunksSlot) {
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_with({"Lost Castle", "e1m3"})},
                                                 {"e1m2", map_titled("Red Keep")}}));
  scan();
  // Slot 1 went to the next-map chunk, so e1m1 gets no line of its own.
  expect_lists(line("e1m3", "Lost Castle") + line("e1m2", "Red Keep"));
}

TEST_F(ArchiveScanTest, OnlyANearbyTitleMarkerSetsTheTitle) {
  const std::string world = "{\n\"classname\" \"worldspawn\"\n";
  // From the world marker's start to the title marker's: 25 bytes plus the padding.
  auto title_after = [&](std::size_t distance, const std::string& title) {
    return tools::map_data(
        1000, kEntityOffset,
        world + std::string(distance - 25, ' ') + "\"message\" \"" + title + "\"\n}\n");
  };
  const std::string title_before_world =
      tools::map_data(1000, kEntityOffset, "\"message\" \"Before\"\n" + world + "}\n");
  const std::string no_title_marker = tools::map_data(1000, 0, world + "}\n");
  add_archive("pak0.pak", archive_chunk_per_map({{"near", title_after(99, "Near")},
                                                 {"far", title_after(100, "Far")},
                                                 {"before", title_before_world},
                                                 {"none", no_title_marker}}));
  search_.title = "Taken Earlier";
  scan();
  // A title marker 100 bytes away, or none at all, leaves the title taken last.
  expect_lists(line("near", "Near") + line("far", "Near") + line("before", "Before") +
               line("none", "Before"));
}

TEST_F(ArchiveScanTest, TitleIsCarriedOverAcrossArchivesAndScans) {
  const std::string far_title = tools::map_data(
      1000, 0, "{\n\"classname\" \"worldspawn\"\n" + std::string(200, ' ') + "\"message\" \"X\"");
  add_archive("pak0.pak", archive_chunk_per_map({{"a1", far_title}}), "first");
  search_.title = "From An Earlier Folder";
  scan("first");
  expect_lists(line("a1", "From An Earlier Folder"), "first");

  add_archive("pak0.pak", archive_chunk_per_map({{"b1", map_titled("Lost Castle")}}), "second");
  add_archive("pak1.pak", archive_chunk_per_map({{"b2", far_title}}), "second");
  scan("second");
  expect_lists(line("b1", "Lost Castle") + line("b2", "Lost Castle"), "second");
}

TEST_F(ArchiveScanTest, TitlesAreCutAtFortyBytesAndAnEmptyTitleGivesNoLine) {
  const std::string long_title = "A Title Of Forty-Five Bytes Is Cut At Forty!";
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_titled("")},
                                                 {"e1m2", map_titled(long_title)},
                                                 {"e1m3", map_with({"Red Keep", ""})}}));
  scan();
  // The empty next-map text still makes a line: an empty name with the title.
  expect_lists(line("", "Red Keep") + line("e1m2", long_title.substr(0, 40)));
}

TEST_F(ArchiveScanTest, CrLfEntityTextAndSplitMarkersNeverCount) {
  const std::string crlf = tools::world_entity_text({"Crlf Title", "e9m9", LineEnd::kCrLf});
  const std::string world = "{\n\"classname\" \"worldspawn\"\n}\n";
  tools::PackBuilder pack;
  pack.add_file("maps/e1m1.bsp", tools::map_data(1000, kEntityOffset, crlf));
  // The world marker starts 10 bytes before the first chunk border.
  pack.add_file_at(tools::straddle_offset(kChunkSize, 10 + 3), "maps/e1m2.bsp", world);
  pack.add_file_at(kChunkSize + 1000, "maps/e1m3.bsp", map_titled("Red Keep"));
  add_archive("pak0.pak", pack.build());
  scan();
  // Only the third map's chunk has a world marker: its title takes slot 1.
  expect_lists(line("e1m1", "Red Keep"));
}

TEST_F(ArchiveScanTest, ScansEveryArchiveRestartingAtSlotOne) {
  add_archive("PAK0.PAK", archive_chunk_per_map({{"e1m1", map_titled("Lost Castle")}}));
  add_archive("pak1.pak", archive_chunk_per_map({{"e2m1", map_titled("Red Keep")}}));
  // Neither matches: a folder (mask 32 lists plain files only) and another pattern.
  tree_.make_dir("game/pak2.pak");
  add_archive("other.pak", archive_chunk_per_map({{"x1", map_titled("Other")}}));
  scan();
  expect_lists(line("e1m1", "Lost Castle") + line("e2m1", "Red Keep"));
}

TEST_F(ArchiveScanTest, EmptyAndExactChunkArchivesEndAfterAnEmptyRead) {
  add_archive("pak0.pak", "");
  tools::PackBuilder exact;
  exact.add_file("maps/e1m1.bsp",
                 tools::map_data(kChunkSize - tools::kPackHeaderSize - tools::kPackEntrySize,
                                 kEntityOffset, tools::world_entity_text({"Lost Castle", {}})));
  ASSERT_EQ(exact.build().size(), static_cast<std::size_t>(kChunkSize));
  add_archive("pak1.pak", exact.build());
  open_lists();
  const int reads_before = faulty_.count(OsCall::kReadFile);
  run_scan();
  // One empty read for pak0; for pak1 one read, which came short right behind the full
  // chunk, so the empty chunk after it needs no read of its own.
  EXPECT_EQ(faulty_.count(OsCall::kReadFile) - reads_before, 2);
  expect_lists(line("e1m1", "Lost Castle"));
}

TEST_F(ArchiveScanTest, LeftoverTitleIsPairedWithTheNextArchivesName) {
  // Three world chunks, two names: the third title outlives its archive.
  tools::PackBuilder first;
  first.add_file("maps/a1.bsp", map_titled("A"));
  first.add_file_at(kChunkSize, "maps/a2.bsp", map_titled("B"));
  first.add_file_at(2 * kChunkSize, "progs/c.dat", map_titled("C"));
  add_archive("pak0.pak", first.build());
  add_archive("pak1.pak", archive_chunk_per_map({{"b1", map_titled("D")},
                                                 {"b2", map_titled("E")},
                                                 {"b3", map_without_entity()}}));
  scan();
  expect_lists(line("a1", "A") + line("a2", "B") + line("b1", "D") + line("b2", "E") +
               line("b3", "C"));
}

TEST_F(ArchiveScanTest, ArchiveWithoutNamesDropsItsFirstTitle) {
  tools::PackBuilder no_names;
  no_names.add_file("progs/a.dat", map_titled("First"));
  no_names.add_file_at(kChunkSize, "progs/b.dat", map_titled("Second"));
  add_archive("pak0.pak", no_names.build());
  add_archive("pak1.pak",
              archive_chunk_per_map({{"b1", map_without_entity()}, {"b2", map_without_entity()}}));
  scan();
  // Slot 1 is emptied at the end of every archive; slot 2 is above the name count 0.
  expect_lists(line("b2", "Second"));
}

TEST_F(ArchiveScanTest, NothingFoundWithoutArchives) {
  tree_.write_file("game/pak0.txt", archive_chunk_per_map({{"e1m1", map_titled("T")}}));
  tree_.make_dir("game/pak1.pak");
  open_lists();
  const int opens_before = faulty_.count(OsCall::kCreateFile);
  archive_scan(driver_, search_);
  EXPECT_EQ(driver_.nothing_found, 1);
  EXPECT_EQ(faulty_.count(OsCall::kCreateFile), opens_before);  // no archive opened
  close_all_channels(rt_);
  expect_lists("");
}

TEST_F(ArchiveScanTest, LockedArchiveIsSkipped) {
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_titled("Lost Castle")}}));
  add_archive("pak1.pak", archive_chunk_per_map({{"e2m1", map_titled("Locked")}}));
  add_archive("pak2.pak", archive_chunk_per_map({{"e3m1", map_titled("Red Keep")}}));
  // pak1.pak is held open exclusively by another opener, as another program would.
  const os::Result holder =
      native_->create_file(tree_.path("game/pak1.pak"), os::kGenericRead, 0, os::kOpenExisting);
  ASSERT_NE(holder.value, os::kInvalidHandle);
  open_lists();
  run_scan();
  native_->close_handle(holder.value);
  expect_lists(line("e1m1", "Lost Castle") + line("e3m1", "Red Keep"));
}

TEST_F(ArchiveScanTest, ReadFailureStillPairsWhatWasFound) {
  // Names early in the archive (compiled game code holds map paths), titles per chunk.
  tools::PackBuilder pack;
  pack.add_file("progs.dat", "maps/e1m1.bsp\0maps/e1m2.bsp\0"s + map_titled("Lost Castle"));
  // Behind the first read ahead: the chunk that holds it needs the second read, which fails.
  pack.add_file_at(kReadAheadLength, "maps/e1m2.bsp", map_titled("Red Keep"));
  add_archive("pak0.pak", pack.build());
  add_archive("pak1.pak", archive_chunk_per_map({{"e2m1", map_titled("Next Archive")}}));
  open_lists();
  faulty_.fail(OsCall::kReadFile, 2, os::kErrorCrc);
  run_scan();
  expect_lists(line("e1m1", "Lost Castle") + line("e2m1", "Next Archive"));
}

TEST_F(ArchiveScanTest, FailedFolderListWriteKeepsTheLineFromTheCombinedList) {
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_with({"Lost Castle", "e1m3"})},
                                                 {"e1m2", map_titled("Red Keep")}}));
  add_archive("pak1.pak", archive_chunk_per_map({{"e2m1", map_titled("Next Archive")}}));
  open_lists();
  // The next-map line's item on channel 2: that archive ends at once.
  faulty_.fail(OsCall::kWriteFile, 1, os::kErrorHandleDiskFull);
  run_scan();
  EXPECT_EQ(folder_written_, line("e2m1", "Next Archive"));
  EXPECT_EQ(combined_written_, line("e2m1", "Next Archive"));
  // Written short, the folder list replaced nothing; the combined list was written whole.
  EXPECT_FALSE(tree_.exists("game/maps.lst"));
  EXPECT_EQ(tree_.read_file("maps.lst"), line("e2m1", "Next Archive"));
}

TEST_F(ArchiveScanTest, FailedCombinedListWriteRepeatsTheLineInTheFolderList) {
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_titled("Lost Castle")},
                                                 {"e1m2", map_titled("Red Keep")}}));
  open_lists();
  // Writes 1 and 2 are the first line on channel 2, write 3 its item on channel 4.
  faulty_.fail(OsCall::kWriteFile, 3, os::kErrorHandleDiskFull);
  run_scan();
  const std::string first = line("e1m1", "Lost Castle");
  const std::string second = line("e1m2", "Red Keep");
  EXPECT_EQ(folder_written_, first + first + second);
  EXPECT_EQ(combined_written_, first + second);
  EXPECT_EQ(tree_.read_file("game/maps.lst"), first + first + second);
  EXPECT_FALSE(tree_.exists("maps.lst"));
}

TEST_F(ArchiveScanTest, UnwritableListEndsAfterBoundedRetriesAndDropsThosePairs) {
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_titled("Lost Castle")},
                                                 {"e1m2", map_titled("Red Keep")}}));
  add_archive("pak1.pak", archive_chunk_per_map({{"e2m1", map_titled("Next Archive")}}));
  open_lists();
  faulty_.fail(OsCall::kWriteFile, 1, os::kErrorHandleDiskFull, Repeat::kFromThenOn);
  run_scan();
  // Each archive: the first attempt and its retries, each stopping at its first write.
  EXPECT_EQ(faulty_.count(OsCall::kWriteFile), 2 * (1 + kEndOfArchiveRetries));
  EXPECT_EQ(folder_written_, "");
  EXPECT_FALSE(tree_.exists("game/maps.lst"));
  EXPECT_EQ(tree_.read_file("maps.lst"), "");  // never written to, so written whole

  // The dropped titles are not paired with a later archive's names.
  faulty_.clear();
  add_archive("pak0.pak",
              archive_chunk_per_map({{"f1", map_without_entity()}, {"f2", map_without_entity()}}),
              "later");
  scan("later");
  expect_lists("", "later");
}

TEST_F(ArchiveScanTest, PairsMoreThanTwoThousandNames) {
  constexpr int kMaps = kArrayUpperBound + 3;
  auto numbered = [](const char* stem, int i) {
    std::ostringstream text;
    text << stem << std::setw(4) << std::setfill('0') << i;
    return text.str();
  };
  // One world entity per chunk; the directory starts at a chunk border, and 500 entries
  // fill a chunk exactly, so no path is split.
  std::string data(static_cast<std::size_t>(kMaps) * kChunkSize - tools::kPackHeaderSize, 'x');
  for (int i = 0; i < kMaps; ++i) {
    tools::put_bytes(data, static_cast<std::size_t>(i) * kChunkSize + kEntityOffset,
                     tools::world_entity_text({numbered("Title ", i), std::nullopt}));
  }
  tools::PackBuilder pack;
  pack.add_raw_at(tools::kPackHeaderSize, data);
  for (int i = 0; i < kMaps; ++i) pack.add_file("maps/" + numbered("m", i) + ".bsp", "");
  add_archive("pak0.pak", pack.build());
  scan();
  std::string expected;
  for (int i = 0; i < kMaps; ++i) expected += line(numbered("m", i), numbered("Title ", i));
  expect_lists(expected);
}

TEST_F(ArchiveScanTest, ClosedCombinedListStillGetsEveryFolderLineOnce) {
  add_archive("pak0.pak", archive_chunk_per_map({{"e1m1", map_with({"Lost Castle", "e1m3"})},
                                                 {"e1m2", map_titled("Red Keep")},
                                                 {"e1m3", map_titled("Green Hall")}}));
  open_lists("game", /*combined=*/false);
  run_scan();
  EXPECT_EQ(tree_.read_file("game/maps.lst"),
            line("e1m3", "Lost Castle") + line("e1m2", "Red Keep") + line("e1m3", "Green Hall"));
  EXPECT_FALSE(tree_.exists("maps.lst"));
}

}  // namespace
}  // namespace mapsweep
