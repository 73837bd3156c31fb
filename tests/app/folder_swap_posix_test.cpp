// A game folder swapped for a link while the run works on it, as a folder's owner racing a
// run of root's would: at the worst moments, between the check that it does not lead to the
// base or above and the entry, and in the middle of its visit. The run keeps working in the
// folder it checked, and nothing outside the base changes.
#include <filesystem>
#include <sstream>
#include <string>

#include "program_tree.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;
using testing::OsCall;

enum class Moment { kBetweenCheckAndEntry, kWhileItsArchivesAreSearched, kBeforeItsNewListIsCreated };
enum class Target { kOutsideTheBase, kAboveTheBase };

void PrintTo(Moment moment, std::ostream* out) {
  switch (moment) {
    case Moment::kBetweenCheckAndEntry: *out << "BetweenCheckAndEntry"; break;
    case Moment::kWhileItsArchivesAreSearched: *out << "WhileItsArchivesAreSearched"; break;
    case Moment::kBeforeItsNewListIsCreated: *out << "BeforeItsNewListIsCreated"; break;
  }
}

void PrintTo(Target target, std::ostream* out) {
  *out << (target == Target::kOutsideTheBase ? "ToOutside" : "ToAbove");
}

// Whether the call is the one at `moment` of the visit of game folder g.
bool is_the_moment(Moment moment, OsCall call, const std::string& name) {
  switch (moment) {
    case Moment::kBetweenCheckAndEntry:
      return call == OsCall::kSetCurrentDirectory && name == "g";
    case Moment::kWhileItsArchivesAreSearched:
      return call == OsCall::kFindFirst && name.find("pak") != std::string::npos;
    case Moment::kBeforeItsNewListIsCreated:
      return call == OsCall::kCreateFile && name.find("/g/maps.lst.mapsweep-") != name.npos;
  }
  return false;
}

class GameFolderSwappedForALink
    : public testing::ProgramTree,
      public ::testing::WithParamInterface<std::tuple<Moment, Target>> {
 protected:
  void swap_for_link(const std::string& target) {
    if (swapped_) return;
    swapped_ = true;
    fs::rename(tree_.path("base/g"), tree_.path("base/g.checked"));
    fs::create_symlink(target, tree_.path("base/g"));
  }

  bool swapped_ = false;
};

TEST_P(GameFolderSwappedForALink, TheRunKeepsToTheFolderItCheckedAndWritesNothingElsewhere) {
  const auto [moment, target] = GetParam();
  loose_map("g", "one", "One");
  tree_.write_file("base/g/pak0.pak", tools::pack_archive({{"maps/two.bsp",
      tools::map_data(2000, 300, tools::world_entity_text({"Two", {}}))}}));
  tree_.write_file("base/g/maps.lst", "old\r\n");
  // Each place the link may lead to holds a map, so that a run led there would find
  // something to list.
  const std::string map = tools::map_data(2000, 300, tools::world_entity_text({"Lure", {}}));
  tree_.write_file("outside/maps/lure.bsp", map);
  tree_.write_file("maps/lure.bsp", map);
  const std::string link_target =
      target == Target::kOutsideTheBase ? tree_.path("outside") : tree_.path("");
  const testing::Files outside_before = files_named("outside/");
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    if (is_the_moment(moment, call, name)) swap_for_link(link_target);
  });
  run();
  ASSERT_TRUE(swapped_);
  EXPECT_EQ(files_named("outside/"), outside_before);
  for (const auto& [path, bytes] : files_named("maps.lst")) {
    EXPECT_TRUE(path.starts_with("base/")) << path << " was written outside the base";
  }
  // Its old list replaced whole by the new one, or left as it was: never a part of one.
  const std::string list = tree_.read_file("base/g.checked/maps.lst");
  EXPECT_TRUE(list == "old\r\n" || list == "two \"Two\"\r\none \"One\"\r\n") << list;
}

INSTANTIATE_TEST_SUITE_P(
    AtTheWorstMoments, GameFolderSwappedForALink,
    ::testing::Combine(::testing::Values(Moment::kBetweenCheckAndEntry,
                                         Moment::kWhileItsArchivesAreSearched,
                                         Moment::kBeforeItsNewListIsCreated),
                       ::testing::Values(Target::kOutsideTheBase, Target::kAboveTheBase)),
    [](const auto& info) {
      std::ostringstream name;
      PrintTo(std::get<0>(info.param), &name);
      PrintTo(std::get<1>(info.param), &name);
      return name.str();
    });

// The list itself swapped for a link between the look that found it a plain file and the
// open that holds it: a list that is a link is left as it is, and what it leads to is
// neither written nor made the model of the new list's owner and mode.
using ListSwappedForALink = testing::ProgramTree;

TEST_F(ListSwappedForALink, IsLeftALinkAndItsTargetUntouched) {
  loose_map("g", "one", "One");
  tree_.write_file("base/g/maps.lst", "old\r\n");
  tree_.write_file("outside/victim", "the victim's bytes\n");
  bool swapped = false;
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    if (swapped || call != OsCall::kCreateFile || !name.ends_with("/g/maps.lst")) return;
    swapped = true;
    fs::remove(tree_.path("base/g/maps.lst"));
    fs::create_symlink(tree_.path("outside/victim"), tree_.path("base/g/maps.lst"));
  });
  run();
  ASSERT_TRUE(swapped);
  EXPECT_TRUE(fs::is_symlink(tree_.path("base/g/maps.lst")));
  EXPECT_EQ(tree_.read_file("outside/victim"), "the victim's bytes\n");
}

}  // namespace
}  // namespace mapsweep
