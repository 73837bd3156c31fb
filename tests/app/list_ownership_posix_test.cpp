// Who owns the lists a run writes, on POSIX systems: a replaced list keeps its owner and
// mode, a new one belongs to its folder's owner when the run is root, and a folder owner
// who swaps a list's new file for a link while the run works cannot turn the run's change
// of owner or mode onto a file elsewhere.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "program_tree.h"
#include "support/system_traits.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;
using testing::OsCall;

struct Ownership {
  uid_t uid;
  gid_t gid;
  mode_t mode;  // permission bits only
  bool operator==(const Ownership&) const = default;
};

void PrintTo(const Ownership& o, std::ostream* out) {
  *out << o.uid << ":" << o.gid << " mode " << std::oct << o.mode << std::dec;
}

// Of the entry itself, a link not followed.
Ownership ownership_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

// The unprivileged user a folder is given to; none when the system has no such user.
std::optional<Ownership> nobody() {
  const passwd* user = ::getpwnam("nobody");
  if (user == nullptr || user->pw_uid == 0) return std::nullopt;
  return Ownership{user->pw_uid, user->pw_gid, 0};
}

void give(const std::string& path, const Ownership& owner) {
  ASSERT_EQ(::lchown(path.c_str(), owner.uid, owner.gid), 0) << path;
}

void set_mode(const std::string& path, mode_t mode) {
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

class ListOwnershipPosix : public testing::ProgramTree {
 protected:
  // A game folder with a map and an old list of mode 0666; as root, both belong to nobody,
  // as the folder of a user who is not root would.
  void folder_of_another_user() {
    loose_map("g", "one", "One");
    tree_.write_file("base/g/maps.lst", "old\r\n");
    set_mode(tree_.path("base/g/maps.lst"), 0666);
    if (!testing::runs_as_root()) return;
    const std::optional<Ownership> user = nobody();
    ASSERT_TRUE(user) << "no user nobody";
    give(tree_.path("base/g"), *user);
    give(tree_.path("base/g/maps.lst"), *user);
  }
};

// --- a replaced list keeps its owner and mode; a new one gets its folder's owner ----------

TEST_F(ListOwnershipPosix, AReplacedListKeepsItsOwnerGroupAndMode) {
  folder_of_another_user();
  set_mode(tree_.path("base/g/maps.lst"), 0640);
  const Ownership before = ownership_of(tree_.path("base/g/maps.lst"));
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/g/maps.lst"), "one \"One\"\r\n");
  EXPECT_EQ(ownership_of(tree_.path("base/g/maps.lst")), before);
}

TEST_F(ListOwnershipPosix, SetIdBitsOfAReplacedListAreNotPassedOn) {
  loose_map("g", "one", "One");
  tree_.write_file("base/g/maps.lst", "old\r\n");
  set_mode(tree_.path("base/g/maps.lst"), 06755);
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/g/maps.lst"), "one \"One\"\r\n");
  EXPECT_EQ(ownership_of(tree_.path("base/g/maps.lst")).mode, 0755u);
}

TEST_F(ListOwnershipPosix, ANewListOfARunAsRootBelongsToItsFoldersOwner) {
  if (!testing::runs_as_root()) GTEST_SKIP() << "only root may give a file away";
  const std::optional<Ownership> user = nobody();
  if (!user) GTEST_SKIP() << "no user nobody";
  loose_map("g", "one", "One");
  give(tree_.path("base/g"), *user);
  const Ownership base = ownership_of(tree_.path("base"));
  EXPECT_EQ(run(), kExitDone);
  ASSERT_EQ(tree_.read_file("base/g/maps.lst"), "one \"One\"\r\n");
  const mode_t created = 0666 & ~current_umask();
  EXPECT_EQ(ownership_of(tree_.path("base/g/maps.lst")), (Ownership{user->uid, user->gid, created}));
  // The combined list's folder is root's: its new list stays root's.
  EXPECT_EQ(ownership_of(tree_.path("base/maps.lst")), (Ownership{base.uid, base.gid, created}));
}

// --- the new file swapped for a link while the run works ----------------------------------

enum class Moment { kRightAfterItsCreation, kJustBeforeItTakesTheListsPlace };

void PrintTo(Moment moment, std::ostream* out) {
  *out << (moment == Moment::kRightAfterItsCreation ? "RightAfterItsCreation"
                                                     : "JustBeforeItTakesTheListsPlace");
}

class NewFileSwappedForALink : public ListOwnershipPosix,
                               public ::testing::WithParamInterface<Moment> {
 protected:
  // Puts a link to `victim` where the run's new file for g's list is, as the folder's owner
  // could at any moment; the file itself is moved aside.
  void swap_for_link(const std::string& victim) {
    if (sibling_.empty() || swapped_) return;
    swapped_ = true;
    fs::rename(sibling_, tree_.path("moved-aside"));
    fs::create_symlink(victim, sibling_);
  }

  std::string sibling_;
  bool swapped_ = false;
};

TEST_P(NewFileSwappedForALink, ChangesNoOwnerOrModeOutsideTheBase) {
  folder_of_another_user();
  tree_.write_file("outside/victim", "the victim's bytes\n");
  const std::string victim = tree_.path("outside/victim");
  set_mode(victim, 0600);
  const Ownership victim_before = ownership_of(victim);
  const Moment moment = GetParam();
  faulty_.after_named_calls([&](OsCall call, const std::string& name, const os::Result& result) {
    if (call != OsCall::kCreateFile || result.value == os::kInvalidHandle ||
        name.find("/g/maps.lst.mapsweep-") == std::string::npos) {
      return;
    }
    sibling_ = name;
    if (moment == Moment::kRightAfterItsCreation) swap_for_link(victim);
  });
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    if (call == OsCall::kReplaceFile && name.ends_with("/g/maps.lst")) swap_for_link(victim);
  });
  run();
  ASSERT_TRUE(swapped_);
  EXPECT_EQ(ownership_of(victim), victim_before);
  EXPECT_EQ(tree_.read_file("outside/victim"), "the victim's bytes\n");
  EXPECT_EQ(tree_.read_file("outside/keep.txt"), "untouched\r\n");
}

INSTANTIATE_TEST_SUITE_P(AtTheWorstMoments, NewFileSwappedForALink,
                         ::testing::Values(Moment::kRightAfterItsCreation,
                                           Moment::kJustBeforeItTakesTheListsPlace),
                         [](const ::testing::TestParamInfo<Moment>& info) {
                           std::ostringstream name;
                           PrintTo(info.param, &name);
                           return name.str();
                         });

// --- leftovers: only what a run could have made -------------------------------------------

TEST_F(ListOwnershipPosix, LeftoversAreOnlyTheNamesARunCouldHaveMadeInTheCaseItWritesThem) {
  loose_map("g", "one", "One");
  loose_map("h", "two", "Two");
  tree_.write_file("base/h/MAPS.LST", "old\r\n");
  // The run names a new file after the list as it is stored, or as it writes it when there
  // is none yet.
  const char* leftovers[] = {"base/g/maps.lst.mapsweep-aZ09xy", "base/maps.lst.mapsweep-000000",
                             "base/h/MAPS.LST.mapsweep-Q1w2E3", "base/h/maps.lst.mapsweep-zzzzzz"};
  const char* users[] = {"base/g/MAPS.LST.MAPSWEEP-Abc123", "base/g/maps.lst.mapsweep-a\nc123",
                         "base/g/maps.lst.mapsweep-a\xe9"
                         "c123",
                         "base/g/maps.lst.mapsweep-abc12", "base/g/maps.lst.mapsweep-abc1234",
                         "base/g/maps.lst.mapsweep-ab_123", "base/g/Maps.lst.mapsweep-abc123",
                         "base/h/MAPS.LST.MAPSWEEP-abc123"};
  for (const char* name : leftovers) tree_.write_file(name, "a killed run's leftover");
  for (const char* name : users) tree_.write_file(name, "the user's");
  EXPECT_EQ(run(), kExitDone);
  for (const char* name : leftovers) EXPECT_FALSE(tree_.exists(name)) << name;
  for (const char* name : users) EXPECT_EQ(tree_.read_file(name), "the user's") << name;
  EXPECT_EQ(tree_.read_file("base/h/MAPS.LST"), "two \"Two\"\r\n");
}

}  // namespace
}  // namespace mapsweep
