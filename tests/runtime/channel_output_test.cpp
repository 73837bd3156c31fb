// Output channels on real files in a temporary folder: items, the buffer, the replaced
// file and the close, with FaultyOs for the failure paths.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
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

// --- write_item and end_line -------------------------------------------------------------

TEST_F(ChannelTest, OutputEmptiesTheFileAndWritesItsItemsWithOneCallAtTheClose) {
  tree_.write_file("out.lst", "old content that must go");
  open_channel(rt_, 2, "out.lst", kOutputMode, kInputBufferLength);
  const int writes_before = faulty_.count(OsCall::kWriteFile);
  write_item(rt_, 2, "e1m1 \"Gate Hall\"");
  write_item(rt_, 2, "");
  end_line(rt_, 2);
  write_item(rt_, 2, std::string("\0\x1A", 2));
  end_line(rt_, 2);
  EXPECT_EQ(faulty_.count(OsCall::kWriteFile) - writes_before, 0);
  EXPECT_EQ(at_end(rt_, 2), 0);
  close_channel(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(faulty_.count(OsCall::kWriteFile) - writes_before, 1);
  EXPECT_EQ(tree_.read_file("out.lst"), std::string("e1m1 \"Gate Hall\"\r\n\0\x1A\r\n", 22));
}

TEST_F(ChannelTest, FailingAndShortWritesRaiseAndReplaceNothing) {
  tree_.write_file("out.lst", "the old list\r\n");
  open_channel(rt_, 2, "out.lst", kOutputMode, 1);  // every item written at once
  faulty_.fail(OsCall::kWriteFile, 1, os::kErrorAccessDenied);
  write_item(rt_, 2, "lost");
  EXPECT_EQ(take_error(), rt_error::kAccessDenied);
  faulty_.come_short(OsCall::kWriteFile, 1, 2);
  write_item(rt_, 2, "half");
  EXPECT_EQ(take_error(), rt_error::kDiskFull);
  // A failure code of 40 or more is no failure to the wrapper; the short count still is.
  faulty_.come_short(OsCall::kWriteFile, 1, 0, os::kErrorDiskFull);
  end_line(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kDiskFull);
  end_line(rt_, 2);
  EXPECT_TRUE(channel_is_open(rt_, 2));
  // A file that misses bytes does not take the list's place: closing says why again.
  close_channel(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kAccessDenied);
  EXPECT_FALSE(channel_is_open(rt_, 2));
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"out.lst", "the old list\r\n"}}));
}

TEST_F(ChannelTest, OutputReplacesTheFileWholeOnlyWhenClosed) {
  tree_.write_file("out.lst", "old\r\n");
  open_channel(rt_, 2, "OUT.LST", kOutputMode, kInputBufferLength);
  ASSERT_EQ(take_error(), rt_error::kNone);
  EXPECT_TRUE(channel_replaces_file(rt_, 2));
  write_item(rt_, 2, "new");
  end_line(rt_, 2);
  // Until the close the old list is all there is, and another open cannot take it.
  EXPECT_EQ(tree_.read_file("out.lst"), "old\r\n");
  open_channel(rt_, 3, "out.lst", kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kPermissionDenied);
  close_channel(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"out.lst", "new\r\n"}}));

  // Abandoned, it replaces nothing; a new list is created only by a close.
  open_channel(rt_, 2, "out.lst", kOutputMode, kInputBufferLength);
  write_item(rt_, 2, "lost");
  abandon_channel(rt_, 2);
  open_channel(rt_, 2, "fresh.lst", kOutputMode, kInputBufferLength);
  EXPECT_FALSE(channel_replaces_file(rt_, 2));
  abandon_channel(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"out.lst", "new\r\n"}}));
}

TEST_F(ChannelTest, AListWrittenAgainWithTheSameBytesIsLeftAsItWas) {
  tree_.write_file("out.lst", "same\r\n");
  for (const char* bytes : {"same", "other"}) {
    open_channel(rt_, 2, "out.lst", kOutputMode, kInputBufferLength);
    write_item(rt_, 2, bytes);
    end_line(rt_, 2);
    const int replaced_before = faulty_.count(OsCall::kReplaceFile);
    close_channel(rt_, 2);
    EXPECT_EQ(take_error(), rt_error::kNone);
    EXPECT_EQ(faulty_.count(OsCall::kReplaceFile) - replaced_before,
              std::string(bytes) == "same" ? 0 : 1);
    EXPECT_EQ(tree_.files(),
              (std::map<std::string, std::string>{{"out.lst", std::string(bytes) + "\r\n"}}));
  }
}

TEST_F(ChannelTest, NewFileChannelTakesOnlyAFreeName) {
  tree_.write_file("TEMP.TMP", "the user's");
  open_channel(rt_, 3, "temp.tmp", kNewFileMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kFileAlreadyExists);
  open_channel(rt_, 3, "temp1.tmp", kNewFileMode, kInputBufferLength);
  ASSERT_EQ(take_error(), rt_error::kNone);
  write_item(rt_, 3, "mine");
  close_channel(rt_, 3);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"TEMP.TMP", "the user's"},
                                                               {"temp1.tmp", "mine"}}));
}

TEST_F(ChannelTest, ShortWriteToADeviceRaises57) {
  faulty_.answer(OsCall::kFileType, 1, os::kFileTypeChar);
  open_channel(rt_, 2, "dev.out", kNewFileMode, kInputBufferLength);
  faulty_.come_short(OsCall::kWriteFile, 1, 1);
  end_line(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kDeviceShortWrite);
}

// --- buffered output -----------------------------------------------------------------------

TEST_F(ChannelTest, BufferedOutputWritesEveryItemInOrderWithACallPerBufferFull) {
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    const std::int32_t length = 1 + static_cast<std::int32_t>(random() % 300);
    SCOPED_TRACE("buffer length " + std::to_string(length));
    open_channel(rt_, 2, "out.lst", kOutputMode, length);
    const int writes_before = faulty_.count(OsCall::kWriteFile);
    std::string expected;
    int items_at_least_a_buffer = 0;
    for (int item = 0; item < 200; ++item) {
      // Mostly short items, some longer than the whole buffer.
      const std::size_t size = random() % 8 == 0 ? random() % 700 : random() % 40;
      const std::string text = pattern_bytes(size + static_cast<std::size_t>(item)).substr(item);
      write_item(rt_, 2, text);
      end_line(rt_, 2);
      expected += text + "\r\n";
      if (text.size() >= static_cast<std::size_t>(length)) ++items_at_least_a_buffer;
    }
    close_channel(rt_, 2);
    ASSERT_EQ(take_error(), rt_error::kNone);
    ASSERT_EQ(tree_.read_file("out.lst"), expected);
    // A write per buffer filled, one per item that does not fit any buffer (and the one that
    // buffer held before it), and the last at the close.
    const int writes = faulty_.count(OsCall::kWriteFile) - writes_before;
    const int bound = static_cast<int>(expected.size()) / length + 2 * items_at_least_a_buffer + 1;
    EXPECT_LE(writes, length == 1 ? 400 : bound);
  }
}

TEST_F(ChannelTest, AListReadBackAfterItsCloseHoldsEveryLine) {
  std::vector<std::string> lines;
  open_channel(rt_, 2, "maps.lst", kOutputMode, kListBufferLength);
  const int writes_before = faulty_.count(OsCall::kWriteFile);
  for (int i = 0; i < 20000; ++i) {
    lines.push_back("m" + std::to_string(i) + " \"Title " + std::to_string(i % 97) + "\"");
    write_item(rt_, 2, lines.back());
    end_line(rt_, 2);
  }
  close_channel(rt_, 2);
  ASSERT_EQ(take_error(), rt_error::kNone);
  // About 500 kB in 64 KiB buffers.
  EXPECT_LE(faulty_.count(OsCall::kWriteFile) - writes_before, 9);
  open_channel(rt_, 2, "maps.lst", kInputModeKeepEof, kListBufferLength);
  EXPECT_EQ(all_lines(2), lines);
  EXPECT_EQ(take_error(), rt_error::kNone);
}

TEST_F(ChannelTest, AFailedWriteOfAFullBufferIsAFailedWriteOfTheItemThatFilledIt) {
  tree_.write_file("out.lst", "the old list\r\n");
  open_channel(rt_, 2, "out.lst", kOutputMode, 16);
  write_item(rt_, 2, "0123456789");
  EXPECT_EQ(faulty_.count(OsCall::kWriteFile), 0);
  faulty_.fail(OsCall::kWriteFile, 1, os::kErrorHandleDiskFull);
  write_item(rt_, 2, "abcdefghij");  // does not fit: the buffer is written first, and fails
  EXPECT_EQ(take_error(), rt_error::kDiskFull);
  EXPECT_TRUE(channel_write_failed(rt_, 2));
  // Writing goes on, but the list is not replaced: closing says why again.
  write_item(rt_, 2, "more");
  end_line(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kNone);
  close_channel(rt_, 2);
  EXPECT_EQ(take_error(), rt_error::kDiskFull);
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"out.lst", "the old list\r\n"}}));
}

TEST_F(ChannelTest, AFailedWriteAtTheCloseReplacesNothingAndFailsTheClose) {
  tree_.write_file("out.lst", "old\r\n");
  for (const bool short_write : {false, true}) {
    SCOPED_TRACE(short_write ? "short" : "failing");
    open_channel(rt_, 2, "out.lst", kOutputMode, kListBufferLength);
    write_item(rt_, 2, "new");
    end_line(rt_, 2);
    EXPECT_FALSE(channel_write_failed(rt_, 2));  // nothing was tried yet
    if (short_write) {
      faulty_.come_short(OsCall::kWriteFile, 1, 2);
    } else {
      faulty_.fail(OsCall::kWriteFile, 1, os::kErrorCrc);
    }
    close_channel(rt_, 2);
    EXPECT_EQ(take_error(), short_write ? rt_error::kDiskFull : rt_error::kDiskMediaError);
    EXPECT_FALSE(channel_is_open(rt_, 2));
    EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"out.lst", "old\r\n"}}));
  }
  // A file of the caller's own is written in place: its close says that it is not whole.
  open_channel(rt_, 3, "temp.tmp", kNewFileMode, kListBufferLength);
  write_item(rt_, 3, "\"a\"");
  faulty_.fail(OsCall::kWriteFile, 1, os::kErrorHandleDiskFull);
  close_channel(rt_, 3);
  EXPECT_EQ(take_error(), rt_error::kDiskFull);
}

}  // namespace
}  // namespace mapsweep
