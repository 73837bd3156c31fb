// The Windows platform layer's own ways against the real system: 64-bit file positions,
// devices, short names kept out of searches, the dot entries, the error mode around each
// call, and a file held by another process as a channel meets it. What every layer owes
// the runtime is tested in os_contract_test.cpp.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "runtime/file_channels.h"
#include "runtime/message_box.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"
#include "support/lock_holder.h"
#include "support/native_os_tree.h"

namespace mapsweep {
namespace {

using os::FindData;
using os::kInvalidHandle;

class Win32OsTest : public testing::NativeOsTree {
 protected:
  os::Handle open(const std::string& relative, std::uint32_t access, std::uint32_t disposition,
                  std::uint32_t* code = nullptr) {
    const os::Result r = os_->create_file(tree_.path(relative), access, 0, disposition);
    if (code) *code = r.last_error;
    return r.value;
  }

  // All entries of a search, "." and ".." included, in no particular order.
  std::set<std::string> listed(const std::string& pattern) {
    const std::vector<std::string> found = names(pattern);
    return std::set<std::string>(found.begin(), found.end());
  }
};

TEST_F(Win32OsTest, FileHeldByAnotherProcessCannotBeOpenedOnAChannel) {
  tree_.write_file("pak0.pak", "PACK");
  auto dialog = make_unshown_dialog();
  Runtime rt(*os_, *dialog);
  {
    const testing::LockHolder holder(tree_.path("pak0.pak"));
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
}

TEST_F(Win32OsTest, FilePointerCarriesTheHighPartBeyondFourGigabytes) {
  const os::Handle h = open("big.bin", os::kGenericRead | os::kGenericWrite, os::kOpenAlways);
  ASSERT_NE(h, kInvalidHandle);
  const std::int64_t beyond = (std::int64_t{1} << 32) + 5;
  EXPECT_EQ(os_->set_file_pointer(h, beyond).value, beyond);
  // Position 0xFFFFFFFF looks like the failure value in the low part; it is not one.
  EXPECT_EQ(os_->set_file_pointer(h, 0xFFFFFFFFll).value, 0xFFFFFFFFll);
  EXPECT_EQ(os_->set_file_pointer(h, -1).value, -1);
  EXPECT_EQ(os_->close_handle(h).value, 1);
}

TEST_F(Win32OsTest, CharacterDeviceIsNoDiskFile) {
  const os::Result r = os_->create_file("NUL", os::kGenericRead, 0, os::kOpenExisting);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(os_->file_type(r.value).value, os::kFileTypeChar);
  os_->close_handle(r.value);
}

TEST_F(Win32OsTest, SearchListsTheDotEntriesOfAFolder) {
  tree_.make_dir("game/maps");
  tree_.write_file("game/pak0.pak", "x");
  EXPECT_EQ(listed(tree_.path("game\\*")), (std::set<std::string>{".", "..", "maps", "pak0.pak"}));
}

TEST_F(Win32OsTest, SearchMatchesLongNamesOnlyNotTheirShortNames) {
  // With short names kept, E1M1~1.BSP and PAK0~1.PAK would match the patterns below.
  for (const char* name : {"e1m1.bsp", "e1m1.bsp2", "pak0.pak", "pak0.pak2", "a.b.bsp"}) {
    tree_.write_file(std::string("g/") + name, "x");
  }
  tree_.write_file("only/ctf1.bsp2", "x");
  EXPECT_EQ(listed(tree_.path("g\\*.BSP")), (std::set<std::string>{"e1m1.bsp", "a.b.bsp"}));
  EXPECT_EQ(listed(tree_.path("g\\pak*.pak")), std::set<std::string>{"pak0.pak"});
  EXPECT_EQ(listed(tree_.path("g\\*")).size(), 7u);  // all five, "." and ".."
  EXPECT_EQ(names(tree_.path("g\\e1m1.bsp2")), std::vector<std::string>{"e1m1.bsp2"});

  FindData entry;
  const os::Result none = os_->find_first(tree_.path("only\\*.bsp"), entry);
  EXPECT_EQ(none.value, kInvalidHandle);
  EXPECT_EQ(none.last_error, os::kErrorFileNotFound);
}

TEST_F(Win32OsTest, EachCallStartsWithAClearLastErrorAndRestoresTheErrorMode) {
  tree_.write_file("f.txt", "x");
  const UINT outer = SEM_NOGPFAULTERRORBOX;
  const UINT saved = SetErrorMode(outer);
  SetLastError(ERROR_GEN_FAILURE);
  const os::Handle h = open("f.txt", os::kGenericRead, os::kOpenExisting);
  EXPECT_EQ(GetErrorMode(), outer);
  ASSERT_NE(h, kInvalidHandle);
  SetLastError(ERROR_GEN_FAILURE);
  EXPECT_EQ(os_->close_handle(h).last_error, os::kErrorSuccess);
  EXPECT_EQ(GetErrorMode(), outer);
  SetErrorMode(saved);
}

// A folder swapped for another of its name between the enclosure check and the entry is
// never entered: the check holds it so that the swap is refused, and where a system lets
// the swap through all the same, the entry finds another folder and goes back.
TEST_F(Win32OsTest, AFolderSwappedBetweenItsCheckAndItsEntryIsNotEntered) {
  tree_.write_file("base/g/mine.txt", "");
  ASSERT_EQ(os_->set_current_directory(tree_.path("base")).value, 1);
  ASSERT_EQ(os_->encloses_current_directory("g").value, 0);
  const bool moved =
      MoveFileA(tree_.path("base/g").c_str(), tree_.path("base/g.real").c_str()) != 0;
  if (moved) {
    ASSERT_NE(CreateDirectoryA(tree_.path("base/g").c_str(), nullptr), 0);
  }
  const os::Result entered = os_->set_current_directory("g");
  if (moved) {
    EXPECT_EQ(entered.value, 0);
    EXPECT_NE(os_->file_attributes("g.real").value, -1);  // still in base
  } else {
    EXPECT_EQ(entered.value, 1);
    EXPECT_NE(os_->file_attributes("mine.txt").value, -1);
  }
}

}  // namespace
}  // namespace mapsweep
