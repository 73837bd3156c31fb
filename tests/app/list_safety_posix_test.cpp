// Runs against what only POSIX systems let a user make: symbolic links named like the
// program's files, links leading above the base folder, names equal but for letter case,
// and a run killed half-way (a child process that ends mid-run, or is killed outright).
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <functional>
#include <string>

#include "program_tree.h"
#include "support/lock_holder.h"
#include "support/system_traits.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;
using testing::Files;
using testing::OsCall;

class ListSafetyPosix : public testing::ProgramTree {};

TEST_F(ListSafetyPosix, LinksNamedLikeListsOrTheFolderListAreNeverFollowed) {
  loose_map("g", "one", "One");
  tree_.write_file("outside/combined.lst", "theirs\r\n");
  tree_.write_file("outside/folder.lst", "theirs too\r\n");
  tree_.write_file("outside/scratch.tmp", "not for writing\r\n");
  fs::create_symlink(tree_.path("outside/combined.lst"), tree_.path("base/maps.lst"));
  fs::create_symlink(tree_.path("outside/folder.lst"), tree_.path("base/g/MAPS.LST"));
  fs::create_symlink(tree_.path("outside/scratch.tmp"), tree_.path("base/temp.tmp"));
  fs::create_symlink(tree_.path("outside/nowhere"), tree_.path("base/TEMP1.TMP"));
  const Files before = tree_.files();
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(tree_.files(), before);
  for (const char* link : {"base/maps.lst", "base/g/MAPS.LST", "base/temp.tmp", "base/TEMP1.TMP"}) {
    EXPECT_TRUE(fs::is_symlink(tree_.path(link))) << link;
  }
  EXPECT_FALSE(tree_.exists("outside/nowhere"));
}

// A folder with nothing to list loses its list under every letter case, as it would on
// Windows, where all of them are one file; a link, a read-only list and a held one stay.
TEST_F(ListSafetyPosix, RemovingAFolderListRemovesEveryLetterCaseThatMayBeWritten) {
  struct Case {
    const char* name;
    const char* kind;  // plain, link, read-only or held
    bool removed;
  };
  const Case cases[] = {{"maps.lst", "plain", true},   {"MAPS.LST", "plain", true},
                        {"Maps.Lst", "plain", true},   {"mAPS.lst", "link", false},
                        {"MaPs.LsT", "read-only", false}, {"maps.LST", "held", false}};
  tree_.make_dir("base/empty");
  tree_.write_file("outside/target.lst", "theirs\r\n");
  for (const Case& c : cases) {
    const std::string path = tree_.path(std::string("base/empty/") + c.name);
    if (std::string(c.kind) == "link") {
      fs::create_symlink(tree_.path("outside/target.lst"), path);
    } else {
      tree_.write_file(std::string("base/empty/") + c.name, "old\r\n");
    }
    if (std::string(c.kind) == "read-only") {
      ASSERT_TRUE(testing::make_read_only(path));
    }
  }
  RunReport report;
  dialog_ = testing::ScriptedDialog({kButtonYes});
  faulty_.set_current_directory(tree_.path("base"));
  {
    const testing::LockHolder held(tree_.path("base/empty/maps.LST"));
    EXPECT_EQ(program_entry(faulty_, dialog_,
                            [&](Runtime& rt) {
                              build_map_lists(rt, {ScanMode::kByteSearch, &report, nullptr});
                            }),
              kExitDone);
  }
  for (const Case& c : cases) {
    const std::string path = tree_.path(std::string("base/empty/") + c.name);
    EXPECT_EQ(!fs::exists(fs::symlink_status(path)), c.removed) << c.name;
  }
  EXPECT_EQ(report.lists_removed, 3);
  EXPECT_EQ(report.passed_over.size(), 3u);
  EXPECT_EQ(tree_.read_file("outside/target.lst"), "theirs\r\n");
}

TEST_F(ListSafetyPosix, LinksToTheBaseOrAboveItAreNoGameFolders) {
  loose_map("g", "one", "One");
  tree_.write_file("maps/above.bsp", "a map file above the base");
  tree_.write_file("outside/far/maps/far.bsp",
                   tools::map_data(2000, 300, tools::world_entity_text({"Far", {}})));
  fs::create_directory_symlink("..", tree_.path("base/up"));
  fs::create_directory_symlink(".", tree_.path("base/self"));
  fs::create_directory_symlink("/", tree_.path("base/root"));
  fs::create_directory_symlink(tree_.path("outside/far"), tree_.path("base/far"));
  EXPECT_EQ(run(), kExitDone);
  EXPECT_FALSE(tree_.exists("maps.lst"));
  EXPECT_FALSE(fs::exists("/maps.lst"));
  // A game folder that is a link elsewhere is still one: its list goes where it leads.
  EXPECT_EQ(tree_.read_file("outside/far/maps.lst"), "far \"Far\"\r\n");
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "far \"Far\"\r\none \"One\"\r\n");
}

TEST_F(ListSafetyPosix, APlainFileNamedMapsDoesNotHideTheMapsFolder) {
  tree_.write_file("base/g/MAPS", "a plain file");
  loose_map("g", "one", "One");
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/g/maps.lst"), "one \"One\"\r\n");
}

TEST_F(ListSafetyPosix, ARunKilledHalfWayLeavesEveryListAsItWasAndTheNextRunTidiesUp) {
  loose_map("a", "one", "One");
  loose_map("b", "two", "Two");
  tree_.write_file("base/maps.lst", "old combined\r\n");
  tree_.write_file("base/a/maps.lst", "old a\r\n");
  const Files before = tree_.files();
  const pid_t child = fork();
  if (child == 0) {
    // Killed as it is about to put the first finished list in place.
    faulty_.before_named_calls([](OsCall call, const std::string&) {
      if (call == OsCall::kReplaceFile) _exit(9);
    });
    run();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 9);
  Files after = tree_.files();
  const Files left_behind = files_named(".mapsweep-");
  EXPECT_FALSE(left_behind.empty());
  for (const auto& [path, bytes] : left_behind) after.erase(path);
  after.erase("base/temp.tmp");
  EXPECT_EQ(after, before);

  // The killed run's folder list is known for one: the next run removes it.
  EXPECT_EQ(tree_.read_file("base/temp.tmp"),
            "mapsweep folder list\r\n\"a\"\r\n\"b\"\r\n");
  EXPECT_EQ(run(), kExitDone);
  EXPECT_TRUE(files_named(".mapsweep-").empty());
  EXPECT_EQ(files_named("temp"), Files{});
  EXPECT_EQ(tree_.read_file("base/a/maps.lst"), "one \"One\"\r\n");
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "one \"One\"\r\ntwo \"Two\"\r\n");
}

// Runs the program in a child process that is killed outright (as kill -9 would) when it
// is about to enter the game folder `folder`; true when it died so.
bool killed_entering(testing::FaultyOs& faulty, const std::string& folder,
                     const std::function<int()>& run) {
  const pid_t child = fork();
  if (child == 0) {
    faulty.before_named_calls([&](OsCall call, const std::string& name) {
      if (call == OsCall::kSetCurrentDirectory && name == folder) ::raise(SIGKILL);
    });
    run();
    _exit(0);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

TEST_F(ListSafetyPosix, AKilledRunsFolderListIsRemovedByTheNextRunAndNothingOfTheUsers) {
  loose_map("a", "one", "One");
  loose_map("b", "two", "Two");
  // Names a run might take for its list, all the user's: a link to a whole folder list
  // elsewhere, a dangling link, a folder, and a file that only starts like one.
  const std::string whole = "mapsweep folder list\r\n\"a\"\r\n";
  tree_.write_file("outside/list.tmp", whole);
  fs::create_symlink(tree_.path("outside/list.tmp"), tree_.path("base/temp.tmp"));
  fs::create_symlink(tree_.path("outside/nowhere"), tree_.path("base/temp1.tmp"));
  tree_.write_file("base/temp2.tmp/inside", whole);
  tree_.write_file("base/temp3.tmp", whole + "\"b");
  ASSERT_TRUE(killed_entering(faulty_, "b", [this] { return run(); }));
  // The killed run wrote its list under the first free name, and it stayed.
  EXPECT_EQ(tree_.read_file("base/temp4.tmp"),
            "mapsweep folder list\r\n\"a\"\r\n\"b\"\r\n");

  EXPECT_EQ(run(), kExitDone);
  EXPECT_FALSE(tree_.exists("base/temp4.tmp"));
  EXPECT_EQ(files_named("temp"), (Files{{"base/temp2.tmp/inside", whole},
                                        {"base/temp3.tmp", whole + "\"b"}}));
  EXPECT_TRUE(fs::is_symlink(tree_.path("base/temp.tmp")));
  EXPECT_TRUE(fs::is_symlink(tree_.path("base/temp1.tmp")));
  EXPECT_EQ(tree_.read_file("outside/list.tmp"), whole);
  EXPECT_FALSE(tree_.exists("outside/nowhere"));
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "one \"One\"\r\ntwo \"Two\"\r\n");
}

// A leftover folder list that turns into a link while it is judged is no longer the file
// that was judged: the link stays, and so does what it leads to.
TEST_F(ListSafetyPosix, AFolderListSwappedForALinkWhileItIsJudgedStays) {
  loose_map("g", "one", "One");
  const std::string whole = "mapsweep folder list\r\n\"g\"\r\n";
  tree_.write_file("base/temp.tmp", whole);
  tree_.write_file("outside/list.tmp", whole);
  bool swapped = false;
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    if (call != OsCall::kCreateFile || name != "temp.tmp" || swapped) return;
    swapped = true;
    fs::create_symlink(tree_.path("outside/list.tmp"), tree_.path("base/link.tmp"));
    fs::rename(tree_.path("base/link.tmp"), tree_.path("base/temp.tmp"));
  });
  EXPECT_EQ(run(), kExitDone);
  EXPECT_TRUE(swapped);
  EXPECT_TRUE(fs::is_symlink(tree_.path("base/temp.tmp")));
  EXPECT_EQ(tree_.read_file("outside/list.tmp"), whole);
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "one \"One\"\r\n");
}

}  // namespace
}  // namespace mapsweep
