// The POSIX layer keeps one listing of a folder it holds open and answers letter-case
// lookups and searches from it: what the process itself creates, renames and removes there
// must show at once, and what anyone else changes must show at the next use. It enters a
// folder only where its user may search it, and holds the folder it left.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
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

// A folder the run makes in one it builds under a temporary name is held open: what is made
// in it goes where that folder is, whatever its name leads to by now, and its listing is
// kept current by what the process does there.
TEST_F(PosixFolders, AFolderTheRunMadeStaysTheFolderItMadeWhateverItsNameBecomes) {
  tree_.write_file("elsewhere/sub/keep.txt", "");
  const std::string built = "place.mapsweep-abcdef";
  ASSERT_EQ(os_->create_directory(built).value, 1);
  ASSERT_EQ(os_->create_directory(built + "/sub").value, 1);
  const auto create = [&](const std::string& name) {
    const Result created = os_->create_file(name, kGenericWrite, 0, kCreateNew);
    if (created.value != kInvalidHandle) os_->close_handle(created.value);
    return created.value != kInvalidHandle;
  };
  ASSERT_TRUE(create(built + "/sub/a.txt"));
  // The folder's owner moves it away and puts a link to a folder of someone's in its place.
  std::filesystem::rename(tree_.path(built), tree_.path("moved"));
  std::filesystem::create_directory_symlink(tree_.path("elsewhere"), tree_.path(built));
  EXPECT_TRUE(create(built + "/sub/b.txt"));
  EXPECT_TRUE(tree_.exists("moved/sub/b.txt"));
  EXPECT_EQ(names(built + "/sub/*"), (Names{"a.txt", "b.txt"}));
  EXPECT_FALSE(create(built + "/sub/A.TXT"));  // taken, in another letter case
  EXPECT_FALSE(tree_.exists("elsewhere/sub/b.txt"));
  EXPECT_EQ(names(tree_.path("elsewhere/sub/*")), (Names{"keep.txt"}));
}

// A made folder the process removes or moves is held no longer: a folder made again under
// the name is the one used, and a name moved away leads nowhere.
TEST_F(PosixFolders, AMadeFolderRemovedOrMovedIsHeldNoLonger) {
  const std::string built = "place.mapsweep-abcdef";
  const auto create = [&](const std::string& name) {
    const Result created = os_->create_file(name, kGenericWrite, 0, kCreateNew);
    if (created.value != kInvalidHandle) os_->close_handle(created.value);
    return created.value != kInvalidHandle;
  };
  ASSERT_EQ(os_->create_directory(built).value, 1);
  ASSERT_EQ(os_->create_directory(built + "/sub").value, 1);
  ASSERT_TRUE(create(built + "/sub/a.txt"));
  ASSERT_EQ(os_->delete_file(built + "/sub/a.txt").value, 1);
  ASSERT_EQ(os_->remove_directory(built + "/sub").value, 1);
  FindData found;
  const Result search = os_->find_first(built + "/sub/*", found);
  EXPECT_EQ(search.value, kInvalidHandle);
  EXPECT_EQ(search.last_error, kErrorPathNotFound);
  ASSERT_EQ(os_->create_directory(built + "/sub").value, 1);
  EXPECT_TRUE(create(built + "/sub/c.txt"));
  EXPECT_TRUE(tree_.exists(built + "/sub/c.txt"));

  ASSERT_EQ(os_->move_entry(built, "final").value, 1);
  EXPECT_FALSE(create(built + "/sub/d.txt"));
  EXPECT_FALSE(tree_.exists("final/sub/d.txt"));
  EXPECT_EQ(names("final/sub/*"), (Names{"c.txt"}));
}

// Whether a folder may be entered is what the kernel would answer for the run's user: its
// owner goes by the owner's bits alone, even where the group's or others' bits would let it
// in. Entered by a child without the privileges that would let it in anyway; as root the
// child's own folders are handed to it, and two of root's are tried as someone else's.
TEST_F(PosixFolders, AFolderIsEnteredOnlyWhereItsUserMaySearchIt) {
  const bool root = ::geteuid() == 0;
  const uid_t nobody = 65534;
  std::map<std::string, std::pair<mode_t, std::uint32_t>> folders{
      {"own_searchable", {0700, kErrorSuccess}},
      {"own_unsearchable", {0600, kErrorAccessDenied}},
      {"own_searchable_by_others_only", {0611, kErrorAccessDenied}},
  };
  if (root) {
    folders["theirs_searchable"] = {0755, kErrorSuccess};
    folders["theirs_unsearchable"] = {0750, kErrorAccessDenied};
  }
  ASSERT_EQ(::chmod(tree_.root().c_str(), 0755), 0);
  for (const auto& [name, expected] : folders) {
    tree_.make_dir(name);
    const std::string path = tree_.path(name);
    if (root && name.starts_with("own")) {
      ASSERT_EQ(::chown(path.c_str(), nobody, nobody), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), expected.first), 0);
  }

  const pid_t pid = fork();
  if (pid == 0) {
    if (root && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)) {
      _exit(100);
    }
    // An Os serves the user it was made for.
    const std::unique_ptr<Os> os = make_native_os();
    if (os->set_current_directory(tree_.root()).value != 1) _exit(101);
    int wrong = 0;
    int bit = 1;
    for (const auto& [name, expected] : folders) {
      const Result entered = os->set_current_directory(name);
      const std::uint32_t code = entered.value == 1 ? kErrorSuccess : entered.last_error;
      if (code != expected.second) wrong |= bit;
      if (entered.value == 1 && os->set_current_directory("..").value != 1) _exit(102);
      bit <<= 1;
    }
    _exit(wrong);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  for (const auto& [name, expected] : folders) {
    std::filesystem::permissions(tree_.path(name), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a bit for each folder entered wrongly, in name order "
                                       "(own_searchable, own_searchable_by_others_only, ...); "
                                       "100 and up: the child could not enter as planned";
}

}  // namespace
