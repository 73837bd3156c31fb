// Block reading on real files in a temporary folder: short blocks and the end, reading
// ahead and views, with FaultyOs for the failure paths.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "runtime/file_channels.h"
#include "runtime/runtime.h"
#include "support/channel_fixture.h"
#include "support/faulty_os.h"

namespace mapsweep {
namespace {

using testing::ChannelTest;
using testing::OsCall;
using testing::pattern_bytes;
using testing::Repeat;

// --- read_block and at_end of binary channels -------------------------------------------

TEST_F(ChannelTest, BinaryAtEndIsSetOnlyByAShortBlock) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{32000}, std::size_t{64000}}) {
    SCOPED_TRACE(size);
    const std::string bytes = pattern_bytes(size);
    tree_.write_file("data.pak", bytes);
    open_channel(rt_, 1, "data.pak", kBinaryMode, kInputBufferLength);
    std::string read;
    EXPECT_EQ(at_end(rt_, 1), 0);
    for (std::size_t full = 0; full < size / 32000; ++full) {
      const std::string block = read_block(rt_, 1, 32000);
      EXPECT_EQ(block.size(), 32000u);
      read += block;
      EXPECT_EQ(at_end(rt_, 1), 0);
    }
    EXPECT_EQ(read_block(rt_, 1, 32000), "");
    EXPECT_EQ(at_end(rt_, 1), -1);
    EXPECT_EQ(read, bytes);
    close_channel(rt_, 1);
    EXPECT_EQ(take_error(), rt_error::kNone);
  }
}

TEST_F(ChannelTest, FullBlockClearsTheFlagAndAFailingReadKeepsIt) {
  open_with("grow.pak", "12345", kBinaryMode);
  EXPECT_EQ(read_block(rt_, 1, 10), "12345");
  EXPECT_EQ(at_end(rt_, 1), -1);
  faulty_.fail(OsCall::kReadFile, 1, os::kErrorCrc);
  EXPECT_EQ(read_block(rt_, 1, 3), "");
  EXPECT_EQ(take_error(), rt_error::kDiskMediaError);
  EXPECT_EQ(at_end(rt_, 1), -1);
#ifndef _WIN32  // Windows lets nobody else open a file held with share mode 0 to grow it
  std::ofstream(tree_.path("grow.pak"), std::ios::binary | std::ios::app) << "67890";
  EXPECT_EQ(read_block(rt_, 1, 3), "678");
  EXPECT_EQ(at_end(rt_, 1), 0);
#endif
  EXPECT_EQ(read_block(rt_, 1, -1), "");
  EXPECT_EQ(take_error(), rt_error::kBadArgument);
}

TEST_F(ChannelTest, BinaryOpenCreatesAMissingFileEmpty) {
  open_channel(rt_, 1, "new.pak", kBinaryMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(read_block(rt_, 1, 100), "");
  close_channel(rt_, 1);
  EXPECT_TRUE(tree_.exists("new.pak"));
  EXPECT_EQ(tree_.read_file("new.pak"), "");
}

TEST_F(ChannelTest, BinaryReadModeNeverCreatesAndLetsOthersRead) {
  open_channel(rt_, 1, "vanished.pak", kBinaryReadMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kFileNotFound);
  EXPECT_TRUE(tree_.files().empty());
  open_with("shared.pak", "bytes", kBinaryReadMode);
  open_channel(rt_, 2, "shared.pak", kBinaryReadMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(read_block(rt_, 2, 10), "bytes");
}

// --- reading ahead --------------------------------------------------------------------------

// The blocks one read call each would give: the file's bytes in pieces of the counts asked,
// the last ones short or empty.
TEST_F(ChannelTest, BlocksReadAheadAreTheBlocksOfOneReadEach) {
  std::mt19937 random(5);
  const std::vector<std::size_t> borders = {0,
                                            1,
                                            31999,
                                            32000,
                                            32001,
                                            static_cast<std::size_t>(kReadAheadLength) - 1,
                                            static_cast<std::size_t>(kReadAheadLength),
                                            static_cast<std::size_t>(kReadAheadLength) + 1};
  for (int round = 0; round < 30; ++round) {
    // Sizes at the borders of chunks and of reads ahead, and anywhere up to three reads.
    const std::size_t size = round < static_cast<int>(borders.size())
                                 ? borders[static_cast<std::size_t>(round)]
                                 : random() % (3 * static_cast<std::size_t>(kReadAheadLength));
    SCOPED_TRACE("size " + std::to_string(size));
    const std::string bytes = pattern_bytes(size + 7).substr(7);
    tree_.write_file("data.pak", bytes);
    open_channel(rt_, 1, "data.pak", kBinaryReadMode, kInputBufferLength);
    ASSERT_EQ(take_error(), rt_error::kNone);
    std::size_t offset = 0;
    for (int block = 0; block < 40 && at_end(rt_, 1) == 0; ++block) {
      const std::int32_t count =
          random() % 3 == 0 ? static_cast<std::int32_t>(random() % 70000) : 32000;
      const std::string expected = offset < size ? bytes.substr(offset, count) : "";
      ASSERT_EQ(read_block(rt_, 1, count), expected) << "block " << block;
      offset += expected.size();
      EXPECT_EQ(at_end(rt_, 1), expected.size() < static_cast<std::size_t>(count) ? -1 : 0);
      if (random() % 6 == 0) {
        // A positioned read in between: block reading goes on where it was.
        const std::size_t at = size == 0 ? 0 : random() % size;
        const std::int32_t at_count = static_cast<std::int32_t>(random() % 5000);
        ASSERT_EQ(read_block_at(rt_, 1, static_cast<std::int64_t>(at), at_count),
                  bytes.substr(at, at_count));
      }
    }
    close_channel(rt_, 1);
    ASSERT_EQ(take_error(), rt_error::kNone);
  }
}

TEST_F(ChannelTest, ReadingAheadCostsAReadCallPerReadAheadLength) {
  const std::size_t size = 3 * static_cast<std::size_t>(kReadAheadLength) + 5;
  tree_.write_file("big.pak", pattern_bytes(size));
  open_channel(rt_, 1, "big.pak", kBinaryReadMode, kInputBufferLength);
  const int reads_before = faulty_.count(OsCall::kReadFile);
  std::size_t read = 0;
  while (at_end(rt_, 1) == 0) read += read_block(rt_, 1, 32000).size();
  EXPECT_EQ(read, size);
  EXPECT_EQ(faulty_.count(OsCall::kReadFile) - reads_before, 4);
}

#ifndef _WIN32  // Windows lets nobody else write a file held with share mode read
TEST_F(ChannelTest, APositionedReadIsNeverServedFromWhatWasReadAhead) {
  tree_.write_file("dir.pak", std::string(1000, 'a'));
  open_channel(rt_, 1, "dir.pak", kBinaryReadMode, kInputBufferLength);
  EXPECT_EQ(read_block(rt_, 1, 10), std::string(10, 'a'));
  {
    std::fstream file(tree_.path("dir.pak"), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(500);
    file << "changed";
  }
  EXPECT_EQ(read_block_at(rt_, 1, 500, 7), "changed");
  EXPECT_EQ(read_block(rt_, 1, 3), "aaa");
  EXPECT_EQ(channel_length(rt_, 1), 1000);
  EXPECT_EQ(take_error(), rt_error::kNone);
}
#endif

std::string random_bytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

// Where views are asked for, a large file is read ahead, then lent from views: the blocks
// are still those of one read call each, at the borders of the first read ahead and of
// views, for blocks spanning several views, with positioned reads in between, and where no
// view can be had at all. Where they are not asked for (as by default), none is made.
TEST_F(ChannelTest, BlocksOfALargeFileAreTheBlocksOfOneReadEachWithOrWithoutViews) {
  std::mt19937 random(11);
  const auto ahead = static_cast<std::size_t>(kReadAheadLength);
  const auto from = static_cast<std::size_t>(kViewsFrom);
  const std::size_t view = kViewLength;
  const std::vector<std::size_t> sizes = {from - 1,         from,
                                          from + 1,         ahead + view - 1,
                                          ahead + view,     ahead + view + 1,
                                          3 * view + 12345, from + random() % (3 * view)};
  enum class Views { kAsked, kRefused, kNotAsked };
  for (const Views views : {Views::kAsked, Views::kRefused, Views::kNotAsked}) {
    const bool views_refused = views == Views::kRefused;
    rt_.channels.lend_views = views != Views::kNotAsked;
    for (const std::size_t size : sizes) {
      SCOPED_TRACE("size " + std::to_string(size) + ", views " +
                   std::to_string(static_cast<int>(views)));
      const std::string bytes = random_bytes(random, size);
      tree_.write_file("big.pak", bytes);
      faulty_.clear();
      if (views_refused) {
        faulty_.fail(OsCall::kMapView, 1, os::kErrorNotEnoughMemory, Repeat::kFromThenOn);
      }
      const int views_before = faulty_.count(OsCall::kMapView);
      open_channel(rt_, 1, "big.pak", kBinaryReadMode, kInputBufferLength);
      std::size_t offset = 0;
      while (at_end(rt_, 1) == 0) {
        const std::int32_t count =
            random() % 4 == 0 ? static_cast<std::int32_t>(random() % (2 * view + 5)) : 32000;
        const std::string expected = offset < size ? bytes.substr(offset, count) : "";
        ASSERT_EQ(read_block(rt_, 1, count), expected) << "at " << offset;
        offset += expected.size();
        if (random() % 8 == 0) {
          const std::size_t at = random() % size;
          ASSERT_EQ(read_block_at(rt_, 1, static_cast<std::int64_t>(at), 100),
                    bytes.substr(at, 100));
        }
      }
      EXPECT_EQ(offset, size);
      close_channel(rt_, 1);
      ASSERT_EQ(take_error(), rt_error::kNone);
      // Views were asked for exactly when the file is large enough.
      EXPECT_EQ(faulty_.count(OsCall::kMapView) > views_before,
                size >= from && views != Views::kNotAsked);
    }
  }
}

#ifndef _WIN32  // only the POSIX platform lends views; Windows reads
// A file cut short while its view is read: the bytes it lost read as zeros instead of
// ending the process, and the channel fails the next read, as a read call meeting a
// failing disk would.
TEST_F(ChannelTest, AViewedFileCutShortMeanwhileFailsTheNextReadInsteadOfEndingTheProcess) {
  std::mt19937 random(12);
  const auto cut = static_cast<std::size_t>(kViewsFrom) / 2;
  const std::string bytes = random_bytes(random, kViewsFrom + 2 * kViewLength);
  tree_.write_file("big.pak", bytes);
  rt_.channels.lend_views = true;
  open_channel(rt_, 1, "big.pak", kBinaryReadMode, kInputBufferLength);
  std::size_t offset = 0;
  while (offset < static_cast<std::size_t>(kReadAheadLength) + 64000) {
    ASSERT_EQ(read_block(rt_, 1, 32000), bytes.substr(offset, 32000));
    offset += 32000;
  }
  ASSERT_GT(faulty_.count(OsCall::kMapView), 0);
  std::filesystem::resize_file(tree_.path("big.pak"), cut);
  int failure = rt_error::kNone;
  for (int block = 0; block < 100 && failure == rt_error::kNone; ++block) {
    const std::string got = read_block(rt_, 1, 32000);
    failure = take_error();
    if (failure == rt_error::kNone && offset + 32000 <= cut) {
      EXPECT_EQ(got, bytes.substr(offset, 32000));
    }
    offset += got.size();
    if (failure == rt_error::kNone && at_end(rt_, 1) != 0) break;
    if (failure == rt_error::kNone) failure = take_error();
  }
  EXPECT_EQ(failure, rt_error::kDiskMediaError);
  close_channel(rt_, 1);
  EXPECT_EQ(take_error(), rt_error::kNone);
}
#endif

// A failed read may have moved the file pointer anywhere (here: nowhere, or past what it
// read before it failed): the next block still begins where the failed one would have.
TEST_F(ChannelTest, AFailedReadAheadFailsTheBlockAndTheNextBlockReadsAgain) {
  const std::string bytes = pattern_bytes(static_cast<std::size_t>(kReadAheadLength) + 100);
  tree_.write_file("data.pak", bytes);
  for (const std::uint32_t moved : {0u, 100u}) {
    SCOPED_TRACE(moved);
    open_channel(rt_, 1, "data.pak", kBinaryReadMode, kInputBufferLength);
    faulty_.come_short(OsCall::kReadFile, 1, moved, os::kErrorCrc);
    EXPECT_EQ(read_block(rt_, 1, 32000), "");
    EXPECT_EQ(take_error(), rt_error::kDiskMediaError);
    EXPECT_EQ(at_end(rt_, 1), 0);
    EXPECT_TRUE(read_block(rt_, 1, 32000) == bytes.substr(0, 32000));
    EXPECT_EQ(take_error(), rt_error::kNone);
    close_channel(rt_, 1);
  }
}

}  // namespace
}  // namespace mapsweep
