// The scans see the same chunks whether the data channel reads ahead in large blocks (of
// any length, shorter or longer than a chunk) or makes one read call per chunk (as it does
// for a device): random archives and map files with markers, entity text and map paths
// placed across chunk borders and read-ahead borders give the same lists both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/byte_search.h"
#include "app/scan_context.h"
#include "runtime/file_channels.h"
#include "support/scan_tree.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

using testing::OsCall;

// Filler that holds no marker by itself, but many near misses.
std::string filler(std::mt19937& random, std::size_t size) {
  static constexpr char kBytes[] = "maps/.bspclassworldmessage\"\n x";
  std::string bytes(size, 'x');
  for (char& c : bytes) c = kBytes[random() % (sizeof kBytes - 1)];
  return bytes;
}

std::string planted_text(std::mt19937& random, int n) {
  const std::string name = "m" + std::to_string(n);
  switch (random() % 4) {
    case 0:
      return "maps/" + name + ".bsp" + std::string(1, '\0');
    case 1:
      return tools::world_entity_text({"Title " + name, std::nullopt});
    case 2:
      return tools::world_entity_text({"Next " + name, "n" + name});
    default:
      return tools::world_entity_text({"Crlf " + name, std::nullopt, tools::LineEnd::kCrLf});
  }
}

// Read-ahead lengths to try: the shipped one, others in the cache's range, and short ones
// whose every chunk spans several reads.
std::int32_t read_ahead_length(std::mt19937& random) {
  static constexpr std::int32_t kLengths[] = {kReadAheadLength, 128 * 1024, 512 * 1024,
                                              kChunkSize + 1,   4099,       kReadAheadLength};
  return kLengths[random() % std::size(kLengths)];
}

// Data with texts planted where chunks and reads ahead of `ahead` bytes meet, and anywhere
// else.
std::string bordered_data(std::mt19937& random, std::size_t ahead) {
  const std::size_t size = random() % (3 * std::max<std::size_t>(ahead, kReadAheadLength));
  std::string data = filler(random, size);
  const int texts = static_cast<int>(random() % 40);
  for (int n = 0; n < texts; ++n) {
    const std::string text = planted_text(random, n);
    const std::size_t border = random() % 2 == 0
                                   ? (random() % 25) * static_cast<std::size_t>(kChunkSize)
                                   : (random() % 4) * ahead;
    const std::size_t at = random() % 3 == 0
                               ? random() % (size + 1)
                               : border - std::min<std::size_t>(border, random() % 40);
    tools::put_bytes(data, at, text);
  }
  return data;
}

class ChunkBorders : public ::testing::Test, protected testing::ScanTree {
 protected:
  // The lines of one scan, with a fresh context, reading ahead or one read per chunk.
  template <class Scan>
  std::string lines_of(Scan scan, bool read_ahead, const std::string& folder) {
    rt_.channels.read_ahead_length = ahead_;
    tree_.write_file("game/maps.lst", "");
    EXPECT_EQ(faulty_.set_current_directory(tree_.path("game")).value, 1);
    open_channel(rt_, kFolderListChannel, ByteString("maps.lst"), kOutputMode, kListBufferLength);
    EXPECT_EQ(faulty_.set_current_directory(tree_.path(folder)).value, 1);
    // The data file's open asks for its type next: a device is read a call per chunk.
    faulty_.clear();
    if (!read_ahead) faulty_.answer(OsCall::kFileType, 1, os::kFileTypeChar);
    DriverState driver(rt_);
    ByteSearchState search;
    build_driver_state(driver);
    build_byte_search_state(rt_.err, search);
    scan(driver, search);
    release_byte_search_state(rt_.err, search);
    release_driver_state(driver);
    close_all_channels(rt_);
    rt_.err.clear_error();
    return tree_.read_file("game/maps.lst");
  }

  // The data of one round, for the read-ahead length it picks.
  std::string round_data(std::mt19937& random) {
    ahead_ = read_ahead_length(random);
    return bordered_data(random, static_cast<std::size_t>(ahead_));
  }

  std::int32_t ahead_ = kReadAheadLength;
};

TEST_F(ChunkBorders, ArchiveScanGivesTheSameListsReadingAheadOrNot) {
  std::mt19937 random(17);
  int rounds_with_lines = 0;
  for (int round = 0; round < 25; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    tools::PackBuilder pack;
    pack.add_raw_at(tools::kPackHeaderSize, round_data(random));
    for (int n = 0; n < static_cast<int>(random() % 5); ++n) {
      pack.add_file("maps/d" + std::to_string(n) + ".bsp", "");
    }
    tree_.write_file("game/pak0.pak", pack.build());
    const auto scan = [](FolderScan& folder, ByteSearchState& search) {
      folder.rt.err.arm_recovery(kArchiveRecovery);
      archive_scan(folder, search);
    };
    const std::string ahead = lines_of(scan, true, "game");
    EXPECT_EQ(ahead, lines_of(scan, false, "game"));
    if (!ahead.empty()) ++rounds_with_lines;
  }
  EXPECT_GT(rounds_with_lines, 15);  // what was planted is found
}

TEST_F(ChunkBorders, MapFileScanGivesTheSameListsReadingAheadOrNot) {
  std::mt19937 random(23);
  for (int round = 0; round < 25; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    tree_.write_file("game/maps/e1m1.bsp", round_data(random));
    const auto scan = [](FolderScan& folder, ByteSearchState& search) {
      folder.rt.err.arm_recovery(kMapFileRecovery);
      map_file_scan(folder, search);
    };
    EXPECT_EQ(lines_of(scan, true, "game/maps"), lines_of(scan, false, "game/maps"));
  }
}

}  // namespace
}  // namespace mapsweep
