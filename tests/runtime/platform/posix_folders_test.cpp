// The POSIX layer keeps one listing of a folder it holds open and answers letter-case
// lookups and searches from it: what the process itself creates, renames and removes there
// must show at once, and what anyone else changes must show at the next use.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "runtime/platform/os.h"
#include "support/native_os_tree.h"

namespace {

using namespace mapsweep::os;  // the Windows codes and flags
using PosixFolders = mapsweep::testing::NativeOsTree;
using Names = std::vector<std::string>;

TEST_F(PosixFolders, TheKeptListingFollowsTheProcesssOwnChangesAndAnyoneElses) {
  tree_.write_file("g/Old.lst", "");
  tree_.write_file("g/pak0.pak", "");
  // A folder that changed a moment ago cannot tell a change in the same clock tick, and is
  // listed afresh each time: only one whose times have settled is kept.
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  ASSERT_EQ(os_->set_current_directory("g").value, 1);
  EXPECT_EQ(names("*"), (Names{"Old.lst", "pak0.pak"}));

  const Result created = os_->create_file("New.lst", kGenericWrite, 0, kCreateNew);
  ASSERT_NE(created.value, kInvalidHandle);
  os_->close_handle(created.value);
  EXPECT_NE(os_->file_attributes("NEW.LST").value, -1);
  EXPECT_EQ(names("*.lst"), (Names{"New.lst", "Old.lst"}));

  ASSERT_EQ(os_->replace_file("NEW.LST", "Renamed.lst").value, 1);
  EXPECT_EQ(os_->file_attributes("new.lst").value, -1);
  EXPECT_NE(os_->file_attributes("RENAMED.LST").value, -1);

  ASSERT_EQ(os_->delete_file("renamed.LST").value, 1);
  EXPECT_EQ(os_->file_attributes("Renamed.lst").value, -1);
  EXPECT_EQ(names("*"), (Names{"Old.lst", "pak0.pak"}));

  // Someone else, behind the process's back.
  tree_.write_file("g/Late.lst", "");
  std::filesystem::remove(tree_.path("g/Old.lst"));
  EXPECT_NE(os_->file_attributes("LATE.LST").value, -1);
  EXPECT_EQ(names("*"), (Names{"Late.lst", "pak0.pak"}));
}

// The way back up is the folder that was left, held open: not whatever its name leads to
// by now.
TEST_F(PosixFolders, TheWayBackIsTheFolderThatWasLeftWhateverItsNameBecame) {
  tree_.write_file("base/g/maps.lst", "");
  tree_.write_file("base/base.txt", "");
  tree_.write_file("elsewhere/other.txt", "");
  ASSERT_EQ(os_->set_current_directory("base").value, 1);
  ASSERT_EQ(os_->set_current_directory("g").value, 1);
  std::filesystem::rename(tree_.path("base"), tree_.path("moved"));
  std::filesystem::create_directory_symlink(tree_.path("elsewhere"), tree_.path("base"));
  ASSERT_EQ(os_->set_current_directory("..").value, 1);
  EXPECT_EQ(names("*.txt"), (Names{"base.txt"}));
  std::string full;
  ASSERT_EQ(os_->full_path("base.txt", full).value, 1);
  EXPECT_EQ(os_->delete_file(full).value, 1);
  EXPECT_FALSE(tree_.exists("moved/base.txt"));
  EXPECT_TRUE(tree_.exists("elsewhere/other.txt"));
}

}  // namespace
