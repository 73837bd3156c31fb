// A folder built beside its place and moved in whole: the old one goes only when it holds
// nothing but what such a folder is made of, and a failure at any step leaves the old one
// as it was and nothing of the new one behind.
#include "runtime/folder_replacement.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/faulty_os.h"
#include "support/temp_tree.h"

namespace mapsweep {
namespace {

using testing::FaultyOs;
using testing::OsCall;
using testing::TempTree;

bool ours(std::string_view path, bool is_folder) {
  return is_folder ? path == "sub" : path == "a.txt" || path == "sub/b.txt";
}

// Builds a folder of a.txt and sub/b.txt for tree's "place".
FolderReplacement::Outcome build(os::Os& os, const TempTree& tree, std::minstd_rand& random) {
  FolderReplacement replacement(os, random);
  if (!replacement.begin(tree.path("place"), ours, "a.txt") ||
      !replacement.add_file("a.txt", "new a") || !replacement.add_folder("sub") ||
      !replacement.add_file("sub/b.txt", "new b") || !replacement.add_file("sub/gone.txt", "x") ||
      !replacement.remove_file("sub/gone.txt")) {
    return FolderReplacement::Outcome::kFailed;
  }
  return replacement.commit(ours);
}

// The names at the tree's top: nothing but "place" may be left there, not even an empty
// temporary folder.
std::vector<std::string> top_names(const TempTree& tree) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(tree.root())) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

const std::vector<std::string> kPlaceAlone = {"place"};

const std::map<std::string, std::string> kNew = {{"place/a.txt", "new a"},
                                                 {"place/sub/b.txt", "new b"}};

TEST(FolderReplacement, TakesTheOldFoldersPlaceOnlyWhenItHoldsNothingForeign) {
  std::minstd_rand random(7);
  const std::unique_ptr<os::Os> os = os::make_native_os();
  {
    TempTree tree;  // no old folder
    EXPECT_EQ(build(*os, tree, random), FolderReplacement::Outcome::kReplaced);
    EXPECT_EQ(tree.files(), kNew);
    EXPECT_EQ(top_names(tree), kPlaceAlone);
  }
  {
    TempTree tree;  // an old folder of ours, with an empty sub-folder
    tree.write_file("place/a.txt", "old a");
    tree.make_dir("place/sub");
    EXPECT_EQ(build(*os, tree, random), FolderReplacement::Outcome::kReplaced);
    EXPECT_EQ(tree.files(), kNew);
    EXPECT_EQ(top_names(tree), kPlaceAlone);
  }
  {
    TempTree tree;  // someone's own file in it: nothing changes, nothing is left beside it
    tree.write_file("place/a.txt", "old a");
    tree.write_file("place/sub/mine.txt", "mine");
    const auto before = tree.files();
    EXPECT_EQ(build(*os, tree, random), FolderReplacement::Outcome::kOldKept);
    EXPECT_EQ(tree.files(), before);
    EXPECT_EQ(top_names(tree), kPlaceAlone);
  }
  {
    TempTree tree;  // a file where the folder would go
    tree.write_file("place", "a file");
    EXPECT_EQ(build(*os, tree, random), FolderReplacement::Outcome::kOldKept);
    EXPECT_EQ(tree.files(), (std::map<std::string, std::string>{{"place", "a file"}}));
  }
}

TEST(FolderReplacement, AFailedStepLeavesTheOldFolderAndRemovesTheNewOne) {
  const std::unique_ptr<os::Os> native = os::make_native_os();
  // Each call the build makes, failed in turn: the old folder stays, and nothing of the
  // new one is left, whichever step failed.
  for (const OsCall call : {OsCall::kCreateDirectory, OsCall::kCreateFile, OsCall::kWriteFile,
                            OsCall::kCloseHandle, OsCall::kDeleteFile, OsCall::kMoveEntry}) {
    for (int nth = 1; nth <= 3; ++nth) {
      TempTree tree;
      tree.write_file("place/a.txt", "old a");
      const auto before = tree.files();
      FaultyOs os(*native);
      os.fail(call, nth, os::kErrorAccessDenied);
      std::minstd_rand random(1);
      const FolderReplacement::Outcome outcome = build(os, tree, random);
      if (outcome == FolderReplacement::Outcome::kReplaced) {
        EXPECT_EQ(tree.files(), kNew) << static_cast<int>(call) << " " << nth;
      } else {
        EXPECT_EQ(tree.files(), before) << static_cast<int>(call) << " " << nth;
      }
      EXPECT_EQ(top_names(tree), kPlaceAlone) << static_cast<int>(call) << " " << nth;
    }
  }
}

TEST(FolderReplacement, WhatAStoppedRunLeftBesideThePlaceIsPutRight) {
  const std::unique_ptr<os::Os> os = os::make_native_os();
  TempTree tree;
  // The old folder set aside just before a run stopped, with the place left empty; a
  // half-built one; one holding a file of someone's; one whose name no run gives.
  tree.write_file("place.mapsweep-Old123/a.txt", "old a");
  tree.write_file("place.mapsweep-Half12/sub/b.txt", "half b");
  tree.write_file("place.mapsweep-Mine12/mine.txt", "mine");
  tree.write_file("place.mapsweep-x/a.txt", "not ours");
  std::minstd_rand random(3);
  FolderReplacement replacement(*os, random);
  ASSERT_TRUE(replacement.begin(tree.path("place"), ours, "a.txt"));
  replacement.abandon();
  EXPECT_EQ(tree.files(),
            (std::map<std::string, std::string>{{"place/a.txt", "old a"},
                                                {"place.mapsweep-Mine12/mine.txt", "mine"},
                                                {"place.mapsweep-x/a.txt", "not ours"}}));
  EXPECT_EQ(top_names(tree).size(), 3u);
}

// Abandoning removes exactly what is there of what was added: a file removed is not looked
// for again, one added again after it was removed is taken away.
TEST(FolderReplacement, AbandoningTakesAwayWhatWasAddedAgainAfterARemoval) {
  const std::unique_ptr<os::Os> os = os::make_native_os();
  TempTree tree;
  std::minstd_rand random(9);
  FolderReplacement replacement(*os, random);
  ASSERT_TRUE(replacement.begin(tree.path("place"), ours, "a.txt"));
  ASSERT_TRUE(replacement.add_folder("sub"));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(replacement.add_file("sub/b.txt", "b"));
    ASSERT_TRUE(replacement.remove_file("sub/b.txt"));
  }
  ASSERT_TRUE(replacement.add_file("sub/b.txt", "b again"));
  ASSERT_TRUE(replacement.add_file("a.txt", "a"));
  ASSERT_TRUE(replacement.remove_file("a.txt"));
  replacement.abandon();
  EXPECT_TRUE(top_names(tree).empty());
  EXPECT_EQ(replacement.last_error(), 0u);
}

#ifndef _WIN32
// The built folder is held open once made: swapped for a link, it is still the folder
// written to, wherever it was moved, and nothing goes where the link leads. Putting it in
// place goes by its name, which no longer leads to it: that fails, and the old folder stays.
TEST(FolderReplacement, ABuiltFolderSwappedForALinkLeadsNowhere) {
  const std::unique_ptr<os::Os> os = os::make_native_os();
  TempTree tree;
  tree.write_file("outside/a.txt", "someone's");
  tree.write_file("place/a.txt", "old a");
  std::minstd_rand random(5);
  FolderReplacement replacement(*os, random);
  ASSERT_TRUE(replacement.begin(tree.path("place"), ours, "a.txt"));
  ASSERT_TRUE(replacement.add_folder("sub"));
  // The folder's owner swaps the temporary folder for a link to a folder of someone's.
  const std::string built = replacement.temporary_path();
  std::filesystem::rename(built, tree.path("moved"));
  std::filesystem::create_directory(tree.path("outside/sub"));
  std::filesystem::create_directory_symlink(tree.path("outside"), built);
  EXPECT_TRUE(replacement.add_file("sub/new.txt", "x"));
  EXPECT_TRUE(tree.exists("moved/sub/new.txt"));
  EXPECT_FALSE(replacement.remove_file("a.txt"));
  EXPECT_NE(replacement.commit(ours), FolderReplacement::Outcome::kReplaced);
  EXPECT_EQ(tree.read_file("outside/a.txt"), "someone's");
  EXPECT_FALSE(tree.exists("outside/sub/new.txt"));
  EXPECT_EQ(tree.read_file("place/a.txt"), "old a");
}
#endif

}  // namespace
}  // namespace mapsweep
