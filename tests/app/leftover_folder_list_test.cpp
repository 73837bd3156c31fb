// The folder list a killed run left behind: the next run removes it before it chooses a
// name for its own, and leaves every other file with a folder list's name as it is,
// whatever it holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/folder_list.h"
#include "program_tree.h"
#include "support/lock_holder.h"
#include "support/system_traits.h"

namespace mapsweep {
namespace {

using testing::Files;
using testing::OsCall;

// A folder list as a run writes it, for these game folders.
std::string folder_list(const std::vector<std::string>& folders) {
  std::string bytes = "mapsweep folder list\r\n";
  for (const std::string& folder : folders) bytes += "\"" + folder + "\"\r\n";
  return bytes;
}

class LeftoverFolderList : public testing::ProgramTree {
 protected:
  // Runs and checks the run's own folder list is gone again and the game folder's list
  // was written.
  void run_and_expect_done() {
    EXPECT_EQ(run(), kExitDone);
    EXPECT_EQ(tree_.read_file("base/g/maps.lst"), "one \"One\"\r\n");
    EXPECT_EQ(tree_.read_file("base/maps.lst"), "one \"One\"\r\n");
  }
};

TEST_F(LeftoverFolderList, WholeFolderListsOfKilledRunsAreRemovedBeforeTheRunWritesItsOwn) {
  loose_map("g", "one", "One");
  // Large enough to be read in several pieces, with every byte a name may hold.
  std::vector<std::string> many;
  for (int i = 0; i < 20000; ++i) many.push_back("game folder " + std::to_string(i));
  many.push_back(std::string("odd \t,\r\n\x1a\x7f\xff name"));
  tree_.write_file("base/temp.tmp", folder_list({"g", "mod"}));
  tree_.write_file("base/temp1.tmp", folder_list(many));
  tree_.write_file("base/temp999.tmp", folder_list({}));
  std::vector<std::string> created;
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    if (call == OsCall::kCreateFile && name.find("temp") != std::string::npos) {
      created.push_back(name);
    }
  });
  run_and_expect_done();
  EXPECT_EQ(files_named("temp"), Files{});
  // The run's own list took the first name again, once the leftover was gone.
  ASSERT_FALSE(created.empty());
  EXPECT_EQ(created.back(), "temp.tmp");
}

// Bytes no text editor wrote, the marker among them.
constexpr char kBinary[] = "\x00\x01\xff\xfe mapsweep folder list\r\n";

// Files of the user's with a folder list's name: none is a whole folder list, each stays
// byte for byte.
TEST_F(LeftoverFolderList, AnyOtherContentUnderAFolderListsNameStays) {
  const std::string whole = folder_list({"g"});
  const std::vector<std::pair<std::string, std::string>> contents = {
      {"empty", ""},
      {"the marker without its line end", "mapsweep folder list"},
      {"the marker ended by LF alone", "mapsweep folder list\n\"g\"\n"},
      {"the marker in other letters", "Mapsweep Folder List\r\n"},
      {"the marker after a space", " mapsweep folder list\r\n"},
      {"the marker with more on its line", "mapsweep folder list 2\r\n"},
      {"an unquoted line after the marker", "mapsweep folder list\r\nnotes\r\n"},
      {"a last line cut short", whole + "\"mod"},
      {"a last name without its line end", whole + "\"mod\""},
      {"a line end cut in half", whole + "\"mod\"\r"},
      {"an empty line", whole + "\r\n"},
      {"an empty name", whole + "\"\"\r\n"},
      {"a name with a dot", whole + "\"v1.2\"\r\n"},
      {"a name with a slash", whole + "\"a/b\"\r\n"},
      {"a name with a NUL", whole + std::string("\"a\0b\"\r\n", 7)},
      {"two names on a line", whole + "\"a\",\"b\"\r\n"},
      {"an end-of-text byte behind", whole + "\x1a"},
      {"binary bytes", std::string(kBinary, sizeof kBinary - 1)},
      {"text of the user's", "my notes\r\n"},
  };
  for (const auto& [what, bytes] : contents) {
    SCOPED_TRACE(what);
    loose_map("g", "one", "One");
    tree_.write_file("base/temp.tmp", bytes);
    tree_.write_file("base/temp7.tmp", bytes);
    run_and_expect_done();
    EXPECT_EQ(files_named("temp"),
              (Files{{"base/temp.tmp", bytes}, {"base/temp7.tmp", bytes}}));
    std::filesystem::remove(tree_.path("base/temp.tmp"));
    std::filesystem::remove(tree_.path("base/temp7.tmp"));
  }
}

// A whole folder list stays where a run would never have left it: under a name a run does
// not give its list, read-only, or held open by another program.
TEST_F(LeftoverFolderList, AWholeFolderListARunCannotHaveLeftStays) {
  loose_map("g", "one", "One");
  const std::string whole = folder_list({"g"});
  for (const char* name : {"base/TEMP.TMP", "base/Temp2.tmp", "base/temp0.tmp", "base/temp01.tmp",
                           "base/temp1000.tmp", "base/temp-1.tmp", "base/temp.tmp.tmp",
                           "base/g/temp.tmp", "base/temp3.tmp", "base/temp4.tmp"}) {
    tree_.write_file(name, whole);
  }
  ASSERT_TRUE(testing::make_read_only(tree_.path("base/temp3.tmp")));
  const Files before = files_named("temp");
  {
    const testing::LockHolder held(tree_.path("base/temp4.tmp"));
    run_and_expect_done();
  }
  EXPECT_EQ(files_named("temp"), before);
}

TEST_F(LeftoverFolderList, NothingIsRemovedWhenTheUserAnswersNo) {
  loose_map("g", "one", "One");
  tree_.write_file("base/temp.tmp", folder_list({"g"}));
  const Files before = tree_.files();
  EXPECT_EQ(run({kButtonNo}), kExitDone);
  EXPECT_EQ(tree_.files(), before);
}

// The marker line is no folder name: a game folder that bears the marker's words is
// visited once, as its own quoted name, like any other.
TEST_F(LeftoverFolderList, AFolderNamedLikeTheMarkerIsVisitedOnce) {
  loose_map(kFolderListMarker, "one", "One");
  std::vector<std::string> entered;
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    if (call == OsCall::kSetCurrentDirectory && name == kFolderListMarker) entered.push_back(name);
  });
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(entered.size(), 1u);
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "one \"One\"\r\n");
  EXPECT_EQ(files_named("temp"), Files{});
}

// A folder list whose first line is not the marker by the time it is read back is not
// the one the run wrote: its names are not followed, and no list is touched.
TEST_F(LeftoverFolderList, AFolderListChangedBeforeItIsReadBackIsNotFollowed) {
  loose_map("g", "one", "One");
  tree_.write_file("base/g/maps.lst", "old\r\n");
  int opens = 0;
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    // The first open creates the list; the second reads it back.
    if (call == OsCall::kCreateFile && name == "temp.tmp" && ++opens == 2) {
      tree_.write_file("base/temp.tmp", "\"g\"\r\n");
    }
  });
  EXPECT_EQ(run(), kExitRefused);
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(tree_.read_file("base/g/maps.lst"), "old\r\n");
  EXPECT_FALSE(tree_.exists("base/maps.lst"));
}

}  // namespace
}  // namespace mapsweep
