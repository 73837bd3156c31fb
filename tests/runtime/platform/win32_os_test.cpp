// The Windows platform layer against the real system: what the runtime relies on (codes,
// sharing, attributes, letter case, 64-bit positions) must come from Windows itself, and
// the bookkeeping around each call must leave the process as it found it.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <set>
#include <string>

#include "runtime/file_channels.h"
#include "runtime/message_box.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"
#include "support/lock_holder.h"
#include "support/system_traits.h"
#include "support/temp_tree.h"

namespace mapsweep {
namespace {

using os::FindData;
using os::kInvalidHandle;

class Win32OsTest : public ::testing::Test {
 protected:
  std::unique_ptr<os::Os> sys = os::make_native_os();
  testing::TempTree tree;

  os::Handle open(const std::string& relative, std::uint32_t access, std::uint32_t disposition,
                  std::uint32_t* code = nullptr) {
    const os::Result r = sys->create_file(tree.path(relative), access, 0, disposition);
    if (code) *code = r.last_error;
    return r.value;
  }

  // All entries of a search, "." and ".." included, as the system lists them.
  std::vector<std::string> list(const std::string& pattern) {
    std::vector<std::string> names;
    FindData entry;
    const os::Result first = sys->find_first(pattern, entry);
    if (first.value == kInvalidHandle) return names;
    names.push_back(entry.name);
    while (sys->find_next(first.value, entry).value) names.push_back(entry.name);
    sys->find_close(first.value);
    return names;
  }
};

TEST_F(Win32OsTest, OpenAlwaysReportsWhetherTheFileExisted) {
  std::uint32_t code = 1;
  os::Handle h = open("new.bin", os::kGenericRead | os::kGenericWrite, os::kOpenAlways, &code);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(code, os::kErrorSuccess);
  EXPECT_EQ(sys->close_handle(h).value, 1);

  h = open("new.bin", os::kGenericRead | os::kGenericWrite, os::kOpenAlways, &code);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(code, os::kErrorAlreadyExists);
  sys->close_handle(h);

  EXPECT_EQ(open("missing.bin", os::kGenericRead, os::kOpenExisting, &code), kInvalidHandle);
  EXPECT_EQ(code, os::kErrorFileNotFound);
  EXPECT_EQ(open("no/such/dir.bin", os::kGenericRead, os::kOpenExisting, &code), kInvalidHandle);
  EXPECT_EQ(code, os::kErrorPathNotFound);
}

TEST_F(Win32OsTest, ExclusiveOpenRefusesASecondOpenWithASharingViolation) {
  tree.write_file("held.pak", "data");
  const os::Handle first = open("held.pak", os::kGenericRead, os::kOpenExisting);
  ASSERT_NE(first, kInvalidHandle);
  std::uint32_t code = 0;
  EXPECT_EQ(open("held.pak", os::kGenericRead, os::kOpenExisting, &code), kInvalidHandle);
  EXPECT_EQ(code, os::kErrorSharingViolation);
  sys->close_handle(first);
  const os::Handle again = open("held.pak", os::kGenericRead, os::kOpenExisting, &code);
  EXPECT_NE(again, kInvalidHandle);
  sys->close_handle(again);
}

TEST_F(Win32OsTest, FileHeldByAnotherProcessCannotBeOpenedOnAChannel) {
  tree.write_file("pak0.pak", "PACK");
  char before[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, before), 0u);
  ASSERT_EQ(sys->set_current_directory(tree.root()).value, 1);
  auto dialog = make_unshown_dialog();
  Runtime rt(*sys, *dialog);
  {
    const testing::LockHolder holder(tree.path("pak0.pak"));
    std::uint32_t code = 0;
    EXPECT_EQ(open("pak0.pak", os::kGenericRead, os::kOpenExisting, &code), kInvalidHandle);
    EXPECT_EQ(code, os::kErrorSharingViolation);
    // Read-only is no way around it: the binary open's fallback fails the same way.
    open_channel(rt, 1, "pak0.pak", kBinaryMode, kInputBufferLength);
    EXPECT_TRUE(rt.err.take_failure());
    EXPECT_EQ(rt.err.number(), rt_error::kPermissionDenied);
    EXPECT_FALSE(channel_is_open(rt, 1));
  }
  open_channel(rt, 1, "pak0.pak", kBinaryMode, kInputBufferLength);
  EXPECT_FALSE(rt.err.take_failure());
  EXPECT_EQ(read_block(rt, 1, 10), "PACK");
  close_channel(rt, 1);
  sys->set_current_directory(before);  // a current directory could not be removed
}

TEST_F(Win32OsTest, ReadOnlyAttributeRefusesWritingButNotReading) {
  if (!testing::read_only_files_are_refused()) {
    GTEST_SKIP() << "this system lets the process write read-only files (Wine as root)";
  }
  tree.write_file("ro.bsp", "bytes");
  ASSERT_TRUE(SetFileAttributesA(tree.path("ro.bsp").c_str(), FILE_ATTRIBUTE_READONLY));
  std::uint32_t code = 0;
  EXPECT_EQ(open("ro.bsp", os::kGenericRead | os::kGenericWrite, os::kOpenAlways, &code),
            kInvalidHandle);
  EXPECT_EQ(code, os::kErrorAccessDenied);
  const os::Handle h = open("ro.bsp", os::kGenericRead, os::kOpenAlways, &code);
  ASSERT_NE(h, kInvalidHandle);
  char buffer[8] = {};
  EXPECT_EQ(sys->read_file(h, buffer, sizeof buffer).value, 5);
  EXPECT_EQ(std::string(buffer, 5), "bytes");
  sys->close_handle(h);
  EXPECT_EQ(sys->delete_file(tree.path("ro.bsp")).last_error, os::kErrorAccessDenied);
  SetFileAttributesA(tree.path("ro.bsp").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32OsTest, ReadWriteSeekAndTruncateMoveExactBytes) {
  const os::Handle h = open("f.bin", os::kGenericRead | os::kGenericWrite, os::kOpenAlways);
  ASSERT_NE(h, kInvalidHandle);
  const std::string bytes("a\0b\r\n\x1a\xff", 7);
  EXPECT_EQ(sys->write_file(h, bytes.data(), 7).value, 7);
  EXPECT_EQ(sys->set_file_pointer(h, 2).value, 2);
  EXPECT_EQ(sys->set_end_of_file(h).value, 1);
  EXPECT_EQ(sys->set_file_pointer(h, 0).value, 0);
  char buffer[16] = {};
  const os::Result r = sys->read_file(h, buffer, sizeof buffer);
  EXPECT_EQ(r.value, 2);  // a short read at the end is no error
  EXPECT_EQ(r.last_error, os::kErrorSuccess);
  EXPECT_EQ(std::string(buffer, 2), std::string("a\0", 2));
  EXPECT_EQ(sys->read_file(h, buffer, sizeof buffer).value, 0);
  EXPECT_EQ(sys->file_type(h).value, os::kFileTypeDisk);
  EXPECT_EQ(sys->close_handle(h).value, 1);
  EXPECT_EQ(tree.read_file("f.bin"), std::string("a\0", 2));
}

TEST_F(Win32OsTest, FilePointerCarriesTheHighPartBeyondFourGigabytes) {
  const os::Handle h = open("big.bin", os::kGenericRead | os::kGenericWrite, os::kOpenAlways);
  ASSERT_NE(h, kInvalidHandle);
  const std::int64_t beyond = (std::int64_t{1} << 32) + 5;
  EXPECT_EQ(sys->set_file_pointer(h, beyond).value, beyond);
  // Position 0xFFFFFFFF looks like the failure value in the low part; it is not one.
  EXPECT_EQ(sys->set_file_pointer(h, 0xFFFFFFFFll).value, 0xFFFFFFFFll);
  EXPECT_EQ(sys->set_file_pointer(h, -1).value, -1);
  EXPECT_EQ(sys->close_handle(h).value, 1);
}

TEST_F(Win32OsTest, CharacterDeviceIsNoDiskFile) {
  const os::Result r = sys->create_file("NUL", os::kGenericRead, 0, os::kOpenExisting);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(sys->file_type(r.value).value, os::kFileTypeChar);
  sys->close_handle(r.value);
}

TEST_F(Win32OsTest, SearchIgnoresLetterCaseAndReportsNamesAsStored) {
  tree.make_dir("game/maps");
  tree.write_file("game/maps/E1M1.bsp", "x");
  tree.write_file("game/maps/e1m2.BSP", "x");
  tree.write_file("game/pak0.pak", "x");

  EXPECT_EQ(list(tree.path("GAME\\MAPS")), std::vector<std::string>{"maps"});
  const auto maps = list(tree.path("game\\maps\\*.BSP"));
  EXPECT_EQ(std::set<std::string>(maps.begin(), maps.end()),
            (std::set<std::string>{"E1M1.bsp", "e1m2.BSP"}));
  const auto all = list(tree.path("game\\*"));
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()),
            (std::set<std::string>{".", "..", "maps", "pak0.pak"}));

  FindData entry;
  ASSERT_NE(sys->find_first(tree.path("game\\pak0.pak"), entry).value, kInvalidHandle);
  const os::Result first = sys->find_first(tree.path("game\\PAK*.PAK"), entry);
  ASSERT_NE(first.value, kInvalidHandle);
  EXPECT_EQ(entry.name, "pak0.pak");
  EXPECT_EQ(entry.attributes & os::kAttributeDirectory, 0u);
  const os::Result next = sys->find_next(first.value, entry);
  EXPECT_EQ(next.value, 0);
  EXPECT_EQ(next.last_error, os::kErrorNoMoreFiles);
  EXPECT_EQ(sys->find_close(first.value).value, 1);
}

TEST_F(Win32OsTest, SearchMatchesLongNamesOnlyNotTheirShortNames) {
  // With short names kept, E1M1~1.BSP and PAK0~1.PAK would match the patterns below.
  for (const char* name : {"e1m1.bsp", "e1m1.bsp2", "pak0.pak", "pak0.pak2", "a.b.bsp"}) {
    tree.write_file(std::string("g/") + name, "x");
  }
  tree.write_file("only/ctf1.bsp2", "x");
  const auto sorted = [](std::vector<std::string> names) {
    return std::set<std::string>(names.begin(), names.end());
  };
  EXPECT_EQ(sorted(list(tree.path("g\\*.BSP"))), (std::set<std::string>{"e1m1.bsp", "a.b.bsp"}));
  EXPECT_EQ(sorted(list(tree.path("g\\pak*.pak"))), std::set<std::string>{"pak0.pak"});
  EXPECT_EQ(sorted(list(tree.path("g\\*"))).size(), 7u);  // all five, "." and ".."
  EXPECT_EQ(list(tree.path("g\\e1m1.bsp2")), std::vector<std::string>{"e1m1.bsp2"});

  FindData entry;
  const os::Result none = sys->find_first(tree.path("only\\*.bsp"), entry);
  EXPECT_EQ(none.value, kInvalidHandle);
  EXPECT_EQ(none.last_error, os::kErrorFileNotFound);
}

TEST_F(Win32OsTest, SearchFailuresCarryTheSystemCodes) {
  FindData entry;
  os::Result r = sys->find_first(tree.path("*.none"), entry);
  EXPECT_EQ(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, os::kErrorFileNotFound);
  r = sys->find_first(tree.path("missing\\*.*"), entry);
  EXPECT_EQ(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, os::kErrorPathNotFound);
}

TEST_F(Win32OsTest, CurrentDirectoryAndDeletion) {
  char before[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, before), 0u);
  tree.write_file("sub/file.txt", "x");

  EXPECT_EQ(sys->set_current_directory(tree.path("sub\\file.txt")).last_error, os::kErrorDirectory);
  os::Result r = sys->set_current_directory(tree.path("absent"));
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.last_error, os::kErrorFileNotFound);

  ASSERT_EQ(sys->set_current_directory(tree.path("SUB")).value, 1);
  r = sys->delete_file("FILE.TXT");  // relative to the new current directory
  EXPECT_EQ(r.value, 1);
  EXPECT_FALSE(tree.exists("sub/file.txt"));
  r = sys->delete_file("file.txt");
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.last_error, os::kErrorFileNotFound);

  ASSERT_EQ(sys->set_current_directory(before).value, 1);
}

TEST_F(Win32OsTest, EachCallStartsWithAClearLastErrorAndRestoresTheErrorMode) {
  tree.write_file("f.txt", "x");
  const UINT outer = SEM_NOGPFAULTERRORBOX;
  const UINT saved = SetErrorMode(outer);
  SetLastError(ERROR_GEN_FAILURE);
  const os::Handle h = open("f.txt", os::kGenericRead, os::kOpenExisting);
  EXPECT_EQ(GetErrorMode(), outer);
  ASSERT_NE(h, kInvalidHandle);
  SetLastError(ERROR_GEN_FAILURE);
  EXPECT_EQ(sys->close_handle(h).last_error, os::kErrorSuccess);
  EXPECT_EQ(GetErrorMode(), outer);
  SetErrorMode(saved);
}

TEST_F(Win32OsTest, ClosingAClosedHandleFails) {
  const os::Handle h = open("c.bin", os::kGenericWrite, os::kOpenAlways);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(sys->close_handle(h).value, 1);
  const os::Result again = sys->close_handle(h);
  EXPECT_EQ(again.value, 0);
  EXPECT_EQ(again.last_error, os::kErrorInvalidHandle);
}

}  // namespace
}  // namespace mapsweep
