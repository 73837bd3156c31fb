// The loose map-file scan over real files in a maps sub-folder: the lines it writes to the
// folder list and the combined list, its map names, its chunking, and its failures.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/byte_search.h"
#include "app/scan_context.h"
#include "runtime/file_channels.h"
#include "support/faulty_os.h"
#include "support/scan_tree.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

using testing::OsCall;
using testing::Repeat;
using tools::LineEnd;
using tools::map_data;
using tools::world_entity_text;

constexpr std::size_t kChunk = 32000;

std::string entity(const std::string& title, LineEnd line_end = LineEnd::kLf) {
  return world_entity_text({title, std::nullopt, line_end});
}

// A game folder with its lists open, as the driver leaves it before the scan.
class MapFileScan : public ::testing::Test, protected testing::ScanTree {
 protected:
  MapFileScan() { tree_.make_dir("game/maps"); }

  void map_file(const std::string& name, const std::string& bytes) {
    tree_.write_file("game/maps/" + name, bytes);
  }

  void scan() {
    faulty_.set_current_directory(tree_.path("game"));
    // Every item is written at once, as a full buffer would, so that the failure cases can
    // fail the write of one item of their choice.
    open_channel(rt_, kFolderListChannel, ByteString("maps.lst"), kOutputMode, 1);
    open_channel(rt_, kCombinedListChannel, ByteString(tree_.path("all.lst")), kOutputMode, 1);
    ASSERT_FALSE(rt_.err.pending());
    faulty_.set_current_directory(tree_.path("game/maps"));
    rt_.err.arm_recovery(kMapFileRecovery);
    map_file_scan(driver_, search_);
    EXPECT_FALSE(channel_is_open(rt_, kDataChannel));
    EXPECT_EQ(search_.title_found, 0);
    folder_written_ = written_to(kFolderListChannel);
    combined_written_ = written_to(kCombinedListChannel);
    close_all_channels(rt_);
  }

  // The folder list; the combined list must hold the same lines.
  std::string folder_list() {
    EXPECT_EQ(tree_.read_file("all.lst"), tree_.read_file("game/maps.lst"));
    return tree_.read_file("game/maps.lst");
  }

  std::string folder_written_;
  std::string combined_written_;
};

TEST_F(MapFileScan, AnEmptyMapsFolderFindsNothing) {
  tree_.write_file("game/maps/readme.txt", entity("Not a map"));
  scan();
  EXPECT_EQ(driver_.nothing_found, 1);
  EXPECT_EQ(folder_list(), "");
}

TEST_F(MapFileScan, ListsTheTitleNextToTheWorldMarker) {
  map_file("E1M1.BSP", map_data(5000, 1200, entity("Lost Castle")));
  scan();
  EXPECT_EQ(driver_.nothing_found, 0);
  EXPECT_EQ(folder_list(), "e1m1 \"Lost Castle\"\r\n");
}

TEST_F(MapFileScan, TakesTheMapNameBeforeTheFirstDotInLowerCase) {
  map_file("Ctf.Start.bsp", "");
  map_file("DM3.BSP", "");
  map_file(
      "\x8E"
      "rger.bsp",
      "");  // code-page-437 capital A umlaut
  scan();
  EXPECT_EQ(folder_list(), "ctf \"\"\r\ndm3 \"\"\r\n\x84rger \"\"\r\n");
}

TEST_F(MapFileScan, CutsTheTitleAtFortyBytes) {
  const std::string title(45, 'T');
  map_file("long.bsp", map_data(1000, 10, entity(title)));
  scan();
  EXPECT_EQ(folder_list(), "long \"" + title.substr(0, 40) + "\"\r\n");
}

TEST_F(MapFileScan, ListsEveryChunkThatHoldsBothMarkers) {
  std::string data = map_data(3 * kChunk, 100, entity("First"));
  tools::put_bytes(data, 2 * kChunk + 500, entity("Second"));
  map_file("twice.bsp", data);
  scan();
  EXPECT_EQ(folder_list(), "twice \"First\"\r\ntwice \"Second\"\r\n");
}

TEST_F(MapFileScan, ATitleMarkerEndingTheChunkGivesAnEmptyTitleOnce) {
  const std::string world = "\"classname\" \"worldspawn\"\n";
  std::string data = map_data(kChunk, 200, world);
  tools::put_bytes(data, kChunk - 10, "message\" \"");
  tools::put_bytes(data, kChunk, "Cut Off\"\n");
  map_file("edge.bsp", data);
  scan();
  EXPECT_EQ(folder_list(), "edge \"\"\r\n");
}

TEST_F(MapFileScan, MarkersInDifferentChunksOrWithCrLfGiveAnEmptyTitleLine) {
  std::string apart = map_data(2 * kChunk, 100, "\"classname\" \"worldspawn\"\n");
  tools::put_bytes(apart, kChunk + 100, "\"message\" \"Elsewhere\"\n");
  map_file("apart.bsp", apart);
  map_file("crlf.bsp", map_data(2000, 0, entity("Windows Text", LineEnd::kCrLf)));
  map_file("plain.bsp", map_data(2000, 0, "no entities here"));
  scan();
  EXPECT_EQ(folder_list(), "apart \"\"\r\ncrlf \"\"\r\nplain \"\"\r\n");
}

TEST_F(MapFileScan, ReadsAFullChunkThenAnEmptyOne) {
  map_file("exact.bsp", map_data(kChunk, 0, entity("Exact")));
  map_file("zero.bsp", "");
  const int reads_before = faulty_.count(OsCall::kReadFile);
  scan();
  EXPECT_EQ(folder_list(), "exact \"Exact\"\r\nzero \"\"\r\n");
  // exact.bsp: one read, which came short right behind the full chunk, so the empty chunk
  // after it needs no read of its own; zero.bsp: one empty read.
  EXPECT_EQ(faulty_.count(OsCall::kReadFile) - reads_before, 2);
}

TEST_F(MapFileScan, AFileThatCannotBeReadIsListedAndTheScanGoesOn) {
  // The title lies behind a.bsp's first read ahead, whose second read fails.
  const std::size_t beyond = kReadAheadLength + 10;
  map_file("a.bsp", map_data(beyond + kChunk, beyond, entity("Beyond")));
  map_file("b.bsp", map_data(100, 0, entity("Readable")));
  faulty_.fail(OsCall::kReadFile, 2, os::kErrorCrc);
  scan();
  EXPECT_EQ(folder_list(), "a \"\"\r\nb \"Readable\"\r\n");
}

TEST_F(MapFileScan, AFileHeldByAnotherProgramIsListedWithAnEmptyTitle) {
  map_file("held.bsp", map_data(100, 0, entity("Hidden")));
  map_file("open.bsp", map_data(100, 0, entity("Open")));
  faulty_.fail_named(OsCall::kCreateFile, "held.bsp", os::kErrorSharingViolation);
  scan();
  EXPECT_EQ(folder_list(), "held \"\"\r\nopen \"Open\"\r\n");
}

TEST_F(MapFileScan, AFailingTitledLineEndsTheFileWithoutAnEmptyTitleLine) {
  map_file("a.bsp", map_data(100, 0, entity("First")));
  map_file("b.bsp", map_data(100, 0, entity("Second")));
  faulty_.fail(OsCall::kWriteFile, 3, os::kErrorHandleDiskFull);  // a's line on channel 4
  scan();
  EXPECT_EQ(folder_written_, "a \"First\"\r\nb \"Second\"\r\n");
  EXPECT_EQ(combined_written_, "b \"Second\"\r\n");
  EXPECT_EQ(tree_.read_file("game/maps.lst"), folder_written_);
  EXPECT_FALSE(tree_.exists("all.lst"));
}

TEST_F(MapFileScan, AListThatRefusesEveryWriteIsTriedABoundedNumberOfTimes) {
  map_file("a.bsp", "");
  map_file("b.bsp", "");
  faulty_.fail(OsCall::kWriteFile, 1, os::kErrorHandleDiskFull, Repeat::kFromThenOn);
  const int writes_before = faulty_.count(OsCall::kWriteFile);
  scan();
  // Three attempts per file, each stopped at its first write.
  EXPECT_EQ(faulty_.count(OsCall::kWriteFile) - writes_before, 6);
  EXPECT_EQ(driver_.nothing_found, 0);
}

}  // namespace
}  // namespace mapsweep
