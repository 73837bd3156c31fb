// Text input channels on real files in a temporary folder: lines, fields and the input
// buffer, with FaultyOs for the failure paths.
#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace
}  // namespace mapsweep
