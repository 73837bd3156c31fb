// File channels on real files in a temporary folder, with FaultyOs for the failure paths.
#include "runtime/file_channels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "runtime/channel.h"
#include "runtime/message_box.h"
#include "runtime/runtime.h"
#include "support/faulty_os.h"
#include "support/system_traits.h"
#include "support/temp_tree.h"
#include "support/tree_runtime.h"

namespace mapsweep {
namespace {

using testing::FaultyOs;
using testing::OsCall;
using testing::Repeat;
using testing::TempTree;

class ChannelTest : public ::testing::Test, protected testing::TreeRuntime {
 protected:
  ChannelTest() {}

  // The pending failure's number, or 0; the failure is dropped.
  int take_error() { return rt_.err.take_failure() ? rt_.err.number() : 0; }

  void open_with(const std::string& name, const std::string& bytes, std::uint16_t mode) {
    tree_.write_file(name, bytes);
    open_channel(rt_, 1, name, mode, kInputBufferLength);
    ASSERT_EQ(take_error(), rt_error::kNone);
  }

  std::vector<std::string> all_lines(std::int16_t number) {
    std::vector<std::string> lines;
    while (at_end(rt_, number) == 0) lines.push_back(read_line(rt_, number));
    return lines;
  }

  std::vector<std::string> all_fields(std::int16_t number) {
    std::vector<std::string> fields;
    while (at_end(rt_, number) == 0) fields.push_back(read_field(rt_, number));
    return fields;
  }
};

std::string pattern_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

// --- read_line -------------------------------------------------------------------------

TEST_F(ChannelTest, LinesEndAtCrOrCrLfWhileALoneLfStaysInTheLine) {
  open_with("t.txt", "a\nb\r\nc\rd\r\n\r\nlast", kInputMode);
  EXPECT_EQ(all_lines(1), (std::vector<std::string>{"a\nb", "c", "d", "", "last"}));
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(read_line(rt_, 1), "");
  EXPECT_EQ(take_error(), rt_error::kPastEnd);
}

TEST_F(ChannelTest, EmptyFileIsAtEndAtOnceAndHasNoLine) {
  open_with("empty.txt", "", kInputMode);
  EXPECT_EQ(at_end(rt_, 1), -1);
  EXPECT_EQ(read_line(rt_, 1), "");
  EXPECT_EQ(take_error(), rt_error::kPastEnd);
}

TEST_F(ChannelTest, CrLfSplitByARefillEndsOneLine) {
  // The CR is the 128th byte, the last of the first buffer; the LF starts the next one.
  const std::string first(127, 'x');
  open_with("split.txt", first + "\r\nnext\r\n", kInputMode);
  EXPECT_EQ(all_lines(1), (std::vector<std::string>{first, "next"}));
}

TEST_F(ChannelTest, LongLinesAndLinesAcrossManyBuffersComeWhole) {
  const std::string long_line = pattern_bytes(1000);
  std::string clean = long_line;
  for (char& c : clean) {
    if (c == '\r' || c == 0x1A) c = '.';
  }
  open_with("long.txt", clean + "\r\n" + std::string(300, 'y'), kInputMode);
  EXPECT_EQ(all_lines(1), (std::vector<std::string>{clean, std::string(300, 'y')}));
}

TEST_F(ChannelTest, EndOfTextByteStopsLinesAndFieldsAndStaysUnread) {
  open_with("eof.txt",
            "ab\x1A"
            "cd\r\nmore\r\n",
            kInputMode);
  EXPECT_EQ(read_line(rt_, 1), "ab");
  EXPECT_EQ(at_end(rt_, 1), -1);
  EXPECT_EQ(read_line(rt_, 1), "");
  EXPECT_EQ(take_error(), rt_error::kPastEnd);
  EXPECT_EQ(read_field(rt_, 1), "");
  EXPECT_EQ(take_error(), rt_error::kPastEnd);
  EXPECT_EQ(at_end(rt_, 1), -1);
}

TEST_F(ChannelTest, KeepEofModeReadsPastTheEndOfTextByte) {
  open_with("keep.lst",
            "ab\x1A"
            "cd\r\n\x1A\r\nx\x1Ay,z",
            kInputModeKeepEof);
  EXPECT_EQ(read_line(rt_, 1),
            "ab\x1A"
            "cd");
  EXPECT_EQ(at_end(rt_, 1), 0);
  EXPECT_EQ(read_line(rt_, 1), "\x1A");
  EXPECT_EQ(read_field(rt_, 1), "x\x1Ay");
  EXPECT_EQ(read_field(rt_, 1), "z");
  EXPECT_EQ(at_end(rt_, 1), -1);
  EXPECT_EQ(take_error(), rt_error::kNone);
}

// The lines of bytes as read_line gives them, byte by byte: CR or CR LF ends a line, a lone
// LF stays in it, and the end-of-text byte ends the text unless it is kept.
std::vector<std::string> lines_as_defined(const std::string& bytes, bool keep_eof) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  const auto ends_text = [&](std::size_t at) {
    return at >= bytes.size() || (!keep_eof && bytes[at] == '\x1A');
  };
  while (!ends_text(i)) {
    std::string line;
    while (!ends_text(i) && bytes[i] != '\r') line += bytes[i++];
    if (!ends_text(i)) {
      ++i;
      if (i < bytes.size() && bytes[i] == '\n') ++i;
    }
    lines.push_back(line);
  }
  return lines;
}

TEST_F(ChannelTest, LinesReadThroughAnyBufferAreTheLinesAsDefined) {
  std::mt19937 random(29);
  for (int round = 0; round < 400; ++round) {
    std::string bytes(random() % 200, 'a');
    for (char& c : bytes) c = "ab\r\n\x1A"[random() % 5];
    const bool keep_eof = round % 2 == 1;
    const std::int32_t length = 1 + static_cast<std::int32_t>(random() % 20);
    tree_.write_file("lines.lst", bytes);
    open_channel(rt_, 1, "lines.lst", keep_eof ? kInputModeKeepEof : kInputMode, length);
    ASSERT_EQ(all_lines(1), lines_as_defined(bytes, keep_eof))
        << "round " << round << ", buffer length " << length;
    ASSERT_EQ(take_error(), rt_error::kNone);
    close_channel(rt_, 1);
  }
}

// --- read_field ------------------------------------------------------------------------

TEST_F(ChannelTest, FieldsFollowTheCommaQuoteAndSpaceRules) {
  open_with("fields.txt",
            "  abc, def\r\n"
            "a,b\r\n"
            "\"q,\r x\" , next\r\n"
            "t\tu\nv  ,w\r\n"
            "\r\n"
            "\"a\x1A"
            "b\"\r\n"
            "\"open",
            kInputMode);
  EXPECT_EQ(all_fields(1),
            (std::vector<std::string>{"abc", "def", "a", "b", "q,\r x", "next", "tuv  ", "w", "",
                                      "a\x1A"
                                      "b",
                                      "open"}));
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(read_field(rt_, 1), "");
  EXPECT_EQ(take_error(), rt_error::kPastEnd);
}

TEST_F(ChannelTest, UnquotedFieldEndsBeforeEndOfTextByte) {
  open_with("f.txt", "a\x1A,b", kInputMode);
  EXPECT_EQ(read_field(rt_, 1), "a");
  EXPECT_EQ(read_field(rt_, 1), "");
  EXPECT_EQ(take_error(), rt_error::kPastEnd);
}

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

// --- open_channel ----------------------------------------------------------------------

TEST_F(ChannelTest, OpeningAnOpenNumberFailsAndLeavesTheFirstWorking) {
  open_with("one.txt", "first\r\nsecond\r\n", kInputMode);
  EXPECT_EQ(read_line(rt_, 1), "first");
  tree_.write_file("two.txt", "other");
  open_channel(rt_, 1, "two.txt", kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kChannelAlreadyOpen);
  EXPECT_EQ(read_line(rt_, 1), "second");
  EXPECT_EQ(take_error(), rt_error::kNone);
}

TEST_F(ChannelTest, OpenFailuresRaiseTheirNumberAndLeaveTheChannelClosed) {
  struct Case {
    std::string name;
    std::uint16_t mode;
    std::int32_t buffer_length;
    int error;
  };
  tree_.make_dir("folder");
  const std::vector<Case> cases = {
      {"missing.txt", kInputMode, kInputBufferLength, rt_error::kFileNotFound},
      {"nofolder\\x.txt", kInputMode, kInputBufferLength, rt_error::kPathNotFound},
      {"nofolder/x.txt", kOutputMode, kInputBufferLength, rt_error::kPathNotFound},
      {"", kInputMode, kInputBufferLength, rt_error::kBadFileName},
      {"*.txt", kBinaryMode, kInputBufferLength, rt_error::kBadFileName},
      {"a?b", kOutputMode, kInputBufferLength, rt_error::kBadFileName},
      {"x.txt", kInputMode, 0, rt_error::kBadArgument},
      {"folder", kInputMode, kInputBufferLength, rt_error::kAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open_channel(rt_, 3, c.name, c.mode, c.buffer_length);
    EXPECT_EQ(take_error(), c.error);
    EXPECT_FALSE(channel_is_open(rt_, 3));
  }
  EXPECT_FALSE(tree_.exists("nofolder"));
}

TEST_F(ChannelTest, NamesAreCutAt255BytesAndAtANulByte) {
  const std::string name = std::string(251, 'n');  // "sub/" + 251 bytes = 255
  tree_.write_file("sub/" + name, "cut\r\n");
  open_channel(rt_, 1, "sub/" + name + "ignored", kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(read_line(rt_, 1), "cut");
  tree_.write_file("zero.txt", "nul\r\n");  // not "nul.txt": Windows takes that for NUL
  open_channel(rt_, 2, std::string("zero.txt\0*", 10), kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(read_line(rt_, 2), "nul");
}

TEST_F(ChannelTest, InvalidHandleWithoutACodeRaises64) {
  tree_.write_file("x.txt", "x");
  faulty_.answer(OsCall::kCreateFile, 1, os::kInvalidHandle, 0);
  open_channel(rt_, 1, "x.txt", kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kBadFileName);
  EXPECT_FALSE(channel_is_open(rt_, 1));
}

TEST_F(ChannelTest, ReadOnlyFileRefusesOutputAndIsReadInBinaryMode) {
  if (!testing::read_only_files_are_refused()) GTEST_SKIP() << "read-only files are writable here";
  tree_.write_file("ro.pak", "keep me");
  ASSERT_TRUE(testing::make_read_only(tree_.path("ro.pak")));
  open_channel(rt_, 1, "ro.pak", kOutputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kAccessDenied);
  EXPECT_FALSE(channel_is_open(rt_, 1));
  open_channel(rt_, 1, "ro.pak", kBinaryMode | 0x8000, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kAccessDenied);

  open_channel(rt_, 1, "ro.pak", kBinaryMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(rt_.channels.open.back()->access & 0x40, 0);
  EXPECT_EQ(read_block(rt_, 1, 100), "keep me");
  close_channel(rt_, 1);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(tree_.read_file("ro.pak"), "keep me");
}

TEST_F(ChannelTest, AFileOpenOnAnotherChannelIsASharingViolation) {
  open_with("held.pak", "held bytes", kBinaryMode);
  open_channel(rt_, 2, "held.pak", kOutputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kPermissionDenied);
  open_channel(rt_, 2, "held.pak", kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kPermissionDenied);
  EXPECT_FALSE(channel_is_open(rt_, 2));
  EXPECT_EQ(read_block(rt_, 1, 100), "held bytes");
  close_channel(rt_, 1);
  EXPECT_EQ(tree_.read_file("held.pak"), "held bytes");
}

TEST_F(ChannelTest, FailedOpenAfterTheSystemOpenClosesTheFileAgain) {
  tree_.write_file("a.lst", "old");
  faulty_.fail(OsCall::kFileType, 1, os::kErrorGenFailure);
  open_channel(rt_, 2, "new.tmp", kNewFileMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kDiskMediaError);
  // A file just opened stands at its start: the open's only call after the type is the read
  // of the first buffer.
  faulty_.fail(OsCall::kReadFile, 1, os::kErrorAccessDenied);
  open_channel(rt_, 2, "a.lst", kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kAccessDenied);
  EXPECT_FALSE(channel_is_open(rt_, 2));
  // The new file was removed again and the list let go: nothing changed, and an exclusive
  // open succeeds.
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"a.lst", "old"}}));
  open_channel(rt_, 2, "a.lst", kOutputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
}

// --- the input buffer --------------------------------------------------------------------

TEST_F(ChannelTest, FailingRefillEmptiesTheBufferAndTheNextReadStartsAtTheSameOffset) {
  const std::string a(100, 'A');
  const std::string b(100, 'B');
  open_with("r.lst", a + "\r\n" + b + "\r\n", kInputMode);
  EXPECT_EQ(read_line(rt_, 1), a);
  faulty_.fail(OsCall::kReadFile, 1, os::kErrorCrc);
  EXPECT_EQ(read_line(rt_, 1), "");
  EXPECT_EQ(take_error(), rt_error::kDiskMediaError);
  // The first buffer ended at offset 128, 26 B's into the second line.
  EXPECT_EQ(read_line(rt_, 1), std::string(74, 'B'));
  EXPECT_EQ(at_end(rt_, 1), -1);
  EXPECT_EQ(take_error(), rt_error::kNone);
}

TEST_F(ChannelTest, DeviceIsReadAByteAtATimeWithoutLosingAPeekedByte) {
  tree_.write_file("dev", "ab\r\ncd");
  faulty_.answer(OsCall::kFileType, 1, os::kFileTypeChar);
  open_channel(rt_, 1, "dev", kInputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
  const int reads_after_open = faulty_.count(OsCall::kReadFile);
  EXPECT_EQ(at_end(rt_, 1), 0);
  EXPECT_EQ(at_end(rt_, 1), 0);
  EXPECT_EQ(all_lines(1), (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(faulty_.count(OsCall::kReadFile) - reads_after_open, 8);
}

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

TEST_F(ChannelTest, BinaryReadModeNeverCreatesAndLetsOthersRead) {
  open_channel(rt_, 1, "vanished.pak", kBinaryReadMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kFileNotFound);
  EXPECT_TRUE(tree_.files().empty());
  open_with("shared.pak", "bytes", kBinaryReadMode);
  open_channel(rt_, 2, "shared.pak", kBinaryReadMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(read_block(rt_, 2, 10), "bytes");
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

// A large file is read ahead, then lent from views: the blocks are still those of one read
// call each, at the borders of the first read ahead and of views, for blocks spanning
// several views, with positioned reads in between, and where no view can be had at all.
TEST_F(ChannelTest, BlocksOfALargeFileAreTheBlocksOfOneReadEachWithOrWithoutViews) {
  std::mt19937 random(11);
  const auto ahead = static_cast<std::size_t>(kReadAheadLength);
  const auto from = static_cast<std::size_t>(kViewsFrom);
  const std::size_t view = kViewLength;
  const std::vector<std::size_t> sizes = {from - 1,         from,
                                          from + 1,         ahead + view - 1,
                                          ahead + view,     ahead + view + 1,
                                          3 * view + 12345, from + random() % (3 * view)};
  for (const bool views_refused : {false, true}) {
    for (const std::size_t size : sizes) {
      SCOPED_TRACE("size " + std::to_string(size) + (views_refused ? ", no views" : ""));
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
      EXPECT_EQ(faulty_.count(OsCall::kMapView) > views_before, size >= from);
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

TEST_F(ChannelTest, AFailedReadAheadFailsTheBlockAndTheNextBlockReadsAgain) {
  const std::string bytes = pattern_bytes(static_cast<std::size_t>(kReadAheadLength) + 100);
  tree_.write_file("data.pak", bytes);
  open_channel(rt_, 1, "data.pak", kBinaryReadMode, kInputBufferLength);
  faulty_.fail(OsCall::kReadFile, 1, os::kErrorCrc);
  EXPECT_EQ(read_block(rt_, 1, 32000), "");
  EXPECT_EQ(take_error(), rt_error::kDiskMediaError);
  EXPECT_EQ(at_end(rt_, 1), 0);
  // The failed call moved nothing here, so reading goes on at the start.
  EXPECT_EQ(read_block(rt_, 1, 32000), bytes.substr(0, 32000));
  EXPECT_EQ(take_error(), rt_error::kNone);
}

// --- kinds, numbers and closing ----------------------------------------------------------

TEST_F(ChannelTest, OperationsCheckTheChannelIsOpenAndOfTheirKind) {
  open_with("in.txt", "x", kInputMode);
  open_channel(rt_, 2, "out.txt", kOutputMode, kInputBufferLength);
  open_channel(rt_, 3, "bin.pak", kBinaryMode, kInputBufferLength);
  ASSERT_EQ(take_error(), rt_error::kNone);

  EXPECT_EQ(read_block(rt_, 1, 1), "");
  EXPECT_EQ(take_error(), rt_error::kBadChannelMode);
  EXPECT_EQ(read_line(rt_, 3), "");
  EXPECT_EQ(take_error(), rt_error::kBadChannelMode);
  EXPECT_EQ(read_field(rt_, 2), "");
  EXPECT_EQ(take_error(), rt_error::kBadChannelMode);
  write_item(rt_, 1, "x");
  EXPECT_EQ(take_error(), rt_error::kBadChannelMode);
  end_line(rt_, 3);
  EXPECT_EQ(take_error(), rt_error::kBadChannelMode);

  EXPECT_EQ(read_block(rt_, 9, 1), "");
  EXPECT_EQ(take_error(), rt_error::kBadChannel);
  EXPECT_EQ(read_line(rt_, 9), "");
  EXPECT_EQ(take_error(), rt_error::kBadChannel);
  EXPECT_EQ(read_field(rt_, 9), "");
  EXPECT_EQ(take_error(), rt_error::kBadChannel);
  write_item(rt_, 9, "x");
  EXPECT_EQ(take_error(), rt_error::kBadChannel);
  end_line(rt_, 9);
  EXPECT_EQ(take_error(), rt_error::kBadChannel);
  EXPECT_EQ(at_end(rt_, 9), 0);
  EXPECT_EQ(take_error(), rt_error::kFileNotFound);
  close_channel(rt_, 9);
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_TRUE(channel_is_open(rt_, 1));
  EXPECT_FALSE(channel_is_open(rt_, 9));
}

TEST_F(ChannelTest, FailingCloseRaisesClosesAnywayAndReplacesNothing) {
  tree_.write_file("out.lst", "old");
  for (const OsCall call : {OsCall::kCloseHandle, OsCall::kReplaceFile}) {
    open_channel(rt_, 2, "out.lst", kOutputMode, kInputBufferLength);
    write_item(rt_, 2, "abc");
    faulty_.fail(call, 1, os::kErrorAccessDenied);
    close_channel(rt_, 2);
    EXPECT_EQ(take_error(), rt_error::kAccessDenied);
    EXPECT_FALSE(channel_is_open(rt_, 2));
    EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"out.lst", "old"}}));
  }
}

TEST_F(ChannelTest, CloseAllClosesNewestFirstAndRaisesTheFirstFailure) {
  open_with("in.txt", "x", kInputMode);
  open_channel(rt_, 2, "bin.pak", kBinaryMode, kInputBufferLength);
  open_channel(rt_, 3, "out.lst", kOutputMode, kInputBufferLength);
  ASSERT_EQ(take_error(), rt_error::kNone);
  const std::size_t logged = faulty_.log().size();
  faulty_.fail(OsCall::kReplaceFile, 1, os::kErrorAccessDenied);
  faulty_.fail(OsCall::kCloseHandle, 2, os::kErrorInvalidHandle);
  close_all_channels(rt_);
  EXPECT_EQ(take_error(), rt_error::kAccessDenied);
  const std::vector<OsCall> calls(faulty_.log().begin() + static_cast<std::ptrdiff_t>(logged),
                                  faulty_.log().end());
  EXPECT_EQ(calls,
            // The list's new file is made at its close, as nothing was written before, and
            // takes its owner and mode at once.
            (std::vector<OsCall>{OsCall::kCreateFile, OsCall::kSettleOwnership,
                                 OsCall::kFileType, OsCall::kCloseHandle,
                                 OsCall::kReplaceFile, OsCall::kDeleteFile, OsCall::kCloseHandle,
                                 OsCall::kCloseHandle}));
  EXPECT_TRUE(rt_.channels.open.empty());
  open_channel(rt_, 1, "in.txt", kOutputMode, kInputBufferLength);
  EXPECT_EQ(take_error(), rt_error::kNone);
}

}  // namespace
}  // namespace mapsweep
