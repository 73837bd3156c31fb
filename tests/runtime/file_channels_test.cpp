// The numbered file channels on real files in a temporary folder: opening, kinds, numbers
// and closing, with FaultyOs for the failure paths.
#include "runtime/file_channels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runtime/channel.h"
#include "runtime/runtime.h"
#include "support/channel_fixture.h"
#include "support/faulty_os.h"
#include "support/system_traits.h"

namespace mapsweep {
namespace {

using testing::ChannelTest;
using testing::OsCall;

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
