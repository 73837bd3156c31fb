// The directory search, change of directory and deletion by pattern on real folders.
#include "runtime/directory_search.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "runtime/message_box.h"
#include "runtime/runtime.h"
#include "support/faulty_os.h"
#include "support/temp_tree.h"
#include "support/tree_runtime.h"

namespace mapsweep {
namespace {

using testing::FaultyOs;
using testing::OsCall;
using testing::TempTree;

constexpr std::uint32_t kFolders = 16;
constexpr std::uint32_t kFilesOnly = 32;

class DirectoryTest : public ::testing::Test, protected testing::TreeRuntime {
 protected:
  DirectoryTest() {
    tree_.write_file("a.txt", "a");
    tree_.write_file("B.DAT", "b");
    tree_.write_file(".hidden", "h");
    tree_.make_dir("maps");
    tree_.make_dir(".cfg");
    tree_.write_file("sub/one.tmp", "1");
    tree_.write_file("sub/two.tmp", "2");
    tree_.write_file("sub/keep.txt", "k");
  }

  int take_error() { return rt_.err.take_failure() ? rt_.err.number() : 0; }

  std::set<std::string> search_all(const std::string& pattern, std::uint32_t mask) {
    std::set<std::string> found;
    for (std::string name = search_first(rt_, pattern, mask); !name.empty();
         name = search_next(rt_)) {
      EXPECT_TRUE(found.insert(name).second) << name;
    }
    return found;
  }

  // Whether a relative name resolves from the runtime's current directory.
  bool visible(const std::string& name) { return !search_first(rt_, name, kFolders).empty(); }
};

// --- search_first / search_next ----------------------------------------------------------

TEST_F(DirectoryTest, MaskDecidesWhichFoldersAndHiddenEntriesMatch) {
  EXPECT_EQ(search_all("*", kFolders), (std::set<std::string>{"a.txt", "B.DAT", "maps", "sub"}));
  EXPECT_EQ(search_all("*.*", kFilesOnly), (std::set<std::string>{"a.txt", "B.DAT"}));
  EXPECT_EQ(search_all("*", kFolders | os::kAttributeHidden),
            (std::set<std::string>{"a.txt", "B.DAT", "maps", "sub", ".hidden", ".cfg"}));
  // Read-only and archive bits of the mask are dropped, so 33 still gives files only.
  EXPECT_EQ(search_all("*", 33), (std::set<std::string>{"a.txt", "B.DAT"}));
}

TEST_F(DirectoryTest, NameComesAsStoredOnDisk) {
  EXPECT_EQ(search_first(rt_, "MAPS", kFolders), "maps");
  EXPECT_EQ(search_first(rt_, "b.dat", kFilesOnly), "B.DAT");
  EXPECT_EQ(search_first(rt_, "MAPS", kFilesOnly), "");
}

TEST_F(DirectoryTest, NoMatchGivesEmptyAndClearsTheErrorState) {
  rt_.err.raise_error(rt_error::kPermissionDenied);
  EXPECT_EQ(search_first(rt_, "*.zzz", kFolders), "");
  EXPECT_FALSE(rt_.err.pending());
  EXPECT_EQ(rt_.err.number(), rt_error::kNone);
  rt_.err.raise_error(rt_error::kPermissionDenied);
  EXPECT_EQ(search_next(rt_), "");
  EXPECT_TRUE(rt_.err.pending()) << "no active search: nothing is asked, nothing cleared";
  rt_.err.clear_error();

  rt_.err.raise_error(rt_error::kPermissionDenied);
  EXPECT_EQ(search_first(rt_, "a.txt", kFolders), "a.txt");
  EXPECT_FALSE(rt_.err.pending());
  EXPECT_EQ(rt_.err.number(), rt_error::kNone);
}

TEST_F(DirectoryTest, ExhaustedSearchStaysEmptyUntilTheNextSearchFirst) {
  EXPECT_EQ(search_first(rt_, "*.txt", kFilesOnly), "a.txt");
  EXPECT_EQ(search_next(rt_), "");
  tree_.write_file("z.txt", "late");
  const int next_calls = faulty_.count(OsCall::kFindNext);
  rt_.err.raise_error(rt_error::kPermissionDenied);
  EXPECT_EQ(search_next(rt_), "");
  EXPECT_FALSE(rt_.err.pending());
  // The system is not asked again, so no late entry can revive the search.
  EXPECT_EQ(faulty_.count(OsCall::kFindNext), next_calls);
  EXPECT_EQ(search_all("*.txt", kFilesOnly), (std::set<std::string>{"a.txt", "z.txt"}));
}

TEST_F(DirectoryTest, EmptyPatternContinuesTheSearchAndANewOneEndsTheOld) {
  const std::string first = search_first(rt_, "*", kFolders);
  EXPECT_FALSE(first.empty());
  const std::string second = search_first(rt_, "", kFilesOnly);
  EXPECT_FALSE(second.empty());
  EXPECT_NE(second, first);
  EXPECT_EQ(faulty_.count(OsCall::kFindFirst), 1);
  EXPECT_EQ(faulty_.count(OsCall::kFindClose), 0);
  search_first(rt_, "*", kFolders);
  EXPECT_EQ(faulty_.count(OsCall::kFindClose), 1);
  // No active search at all: an empty pattern gives empty and asks nothing.
  search_first(rt_, "*.zzz", kFolders);
  const int next_calls = faulty_.count(OsCall::kFindNext);
  EXPECT_EQ(search_first(rt_, "", kFolders), "");
  EXPECT_EQ(faulty_.count(OsCall::kFindNext), next_calls);
}

TEST_F(DirectoryTest, PatternEndingInABackslashSearchesTheFolder) {
  EXPECT_EQ(search_all("sub\\", kFolders),
            (std::set<std::string>{"one.tmp", "two.tmp", "keep.txt"}));
}

TEST_F(DirectoryTest, SearchNeverRaisesWhenTheSystemFails) {
  faulty_.fail(OsCall::kFindNext, 1, os::kErrorAccessDenied);
  EXPECT_EQ(search_first(rt_, "*.txt", kFilesOnly), "a.txt");
  EXPECT_EQ(search_next(rt_), "");
  EXPECT_FALSE(rt_.err.pending());
  faulty_.fail(OsCall::kFindFirst, 1, os::kErrorAccessDenied);
  EXPECT_EQ(search_first(rt_, "*", kFolders), "");
  EXPECT_FALSE(rt_.err.pending());
}

// --- change_directory -------------------------------------------------------------------

TEST_F(DirectoryTest, ChangeDirectoryEntersAndLeavesFolders) {
  EXPECT_TRUE(change_directory(rt_, "sub"));
  EXPECT_TRUE(visible("one.tmp"));
  EXPECT_TRUE(change_directory(rt_, ".."));
  EXPECT_TRUE(visible("a.txt"));
  EXPECT_TRUE(change_directory(rt_, "SUB\\"));
  EXPECT_TRUE(visible("keep.txt"));
  EXPECT_EQ(take_error(), rt_error::kNone);
}

TEST_F(DirectoryTest, ChangeDirectoryFailuresKeepTheDirectory) {
  EXPECT_FALSE(change_directory(rt_, "s*b"));
  EXPECT_EQ(take_error(), rt_error::kPathNotFound);
  EXPECT_FALSE(change_directory(rt_, "su?"));
  EXPECT_EQ(take_error(), rt_error::kPathNotFound);
  EXPECT_FALSE(change_directory(rt_, "nowhere\\deeper"));
  EXPECT_EQ(take_error(), rt_error::kPathNotFound);
  EXPECT_FALSE(change_directory(rt_, "nowhere"));
  EXPECT_EQ(take_error(), rt_error::kFileNotFound);
  // A plain file is refused with a code of 40 or more: no error, but not entered.
  EXPECT_FALSE(change_directory(rt_, "a.txt"));
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_TRUE(visible("a.txt"));
  EXPECT_FALSE(visible("one.tmp"));
}

// --- delete_files -----------------------------------------------------------------------

TEST_F(DirectoryTest, DeleteMissingNameRaises53AndEmptyPatternDoesNothing) {
  delete_files(rt_, "nothing.tmp");
  EXPECT_EQ(take_error(), rt_error::kFileNotFound);
  delete_files(rt_, "nowhere\\*.tmp");
  EXPECT_EQ(take_error(), rt_error::kPathNotFound);
  const std::size_t calls = faulty_.log().size();
  delete_files(rt_, "");
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_EQ(faulty_.log().size(), calls);
}

TEST_F(DirectoryTest, DeleteNeverTouchesFoldersOrHiddenFiles) {
  tree_.write_file("maps/inside.bsp", "m");
  delete_files(rt_, "*.*");
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_FALSE(tree_.exists("a.txt"));
  EXPECT_FALSE(tree_.exists("B.DAT"));
  EXPECT_TRUE(tree_.exists(".hidden"));
  EXPECT_TRUE(tree_.exists("maps/inside.bsp"));
  EXPECT_TRUE(tree_.exists("sub/keep.txt"));
  EXPECT_TRUE(tree_.exists(".cfg"));
  // Only folders and hidden files match: nothing deleted, nothing raised.
  delete_files(rt_, "*");
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_TRUE(tree_.exists(".hidden"));
}

TEST_F(DirectoryTest, DeleteResolvesNamesInTheFolderOfThePattern) {
  tree_.write_file("root.tmp", "r");
  delete_files(rt_, "sub\\one.*");
  EXPECT_FALSE(tree_.exists("sub/one.tmp"));
  delete_files(rt_, "sub/*.tmp");
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_FALSE(tree_.exists("sub/two.tmp"));
  EXPECT_TRUE(tree_.exists("sub/keep.txt"));
  EXPECT_TRUE(tree_.exists("root.tmp"));
  delete_files(rt_, "sub\\");
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_FALSE(tree_.exists("sub/keep.txt"));
  EXPECT_TRUE(tree_.exists("sub"));
}

TEST_F(DirectoryTest, DeletePathIsNotLimitedToThePatternLength) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows' ANSI functions take no path longer than 260 bytes";
#endif
  const std::string folder = std::string(120, 'f') + "/" + std::string(120, 'g');
  const std::string name = std::string(200, 'n') + ".tmp";
  tree_.write_file(folder + "/" + name, "x");
  delete_files(rt_, folder + "\\*.tmp");
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_FALSE(tree_.exists(folder + "/" + name));
}

TEST_F(DirectoryTest, FailingDeleteStopsClosesTheSearchAndKeepsEarlierDeletions) {
  tree_.write_file("c.tmp", "c");
  tree_.write_file("d.tmp", "d");
  tree_.write_file("e.tmp", "e");
  faulty_.fail(OsCall::kDeleteFile, 2, os::kErrorSharingViolation);
  delete_files(rt_, "*.tmp");
  EXPECT_EQ(take_error(), rt_error::kPermissionDenied);
  EXPECT_FALSE(tree_.exists("c.tmp"));
  EXPECT_TRUE(tree_.exists("d.tmp"));
  EXPECT_TRUE(tree_.exists("e.tmp"));
  EXPECT_EQ(faulty_.count(OsCall::kFindClose), 1);

  std::filesystem::permissions(tree_.path("d.tmp"), std::filesystem::perms::all,
                               std::filesystem::perm_options::remove);
  delete_files(rt_, "*.tmp");
  EXPECT_EQ(take_error(), rt_error::kAccessDenied);
  EXPECT_TRUE(tree_.exists("d.tmp"));
  EXPECT_TRUE(tree_.exists("e.tmp"));
}

TEST_F(DirectoryTest, FailingFindNextStopsDeleting) {
  tree_.write_file("c.tmp", "c");
  tree_.write_file("d.tmp", "d");
  faulty_.fail(OsCall::kFindNext, 1, os::kErrorCrc);
  delete_files(rt_, "*.tmp");
  EXPECT_EQ(take_error(), rt_error::kDiskMediaError);
  EXPECT_FALSE(tree_.exists("c.tmp"));
  EXPECT_TRUE(tree_.exists("d.tmp"));
  EXPECT_EQ(faulty_.count(OsCall::kFindClose), 1);
  // A refusal the translation does not cover ends deleting without an error.
  faulty_.fail(OsCall::kFindFirst, 1, os::kErrorInvalidName);
  delete_files(rt_, "*.tmp");
  EXPECT_EQ(take_error(), rt_error::kNone);
  EXPECT_TRUE(tree_.exists("d.tmp"));
}

}  // namespace
}  // namespace mapsweep
