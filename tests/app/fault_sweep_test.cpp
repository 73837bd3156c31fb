// The fault sweep: the whole program over an installation that already holds the lists (and
// the catalogue) of a clean run, once for every operating-system call a clean run makes, with that
// call failing once, and again with every call from it on failing. Whatever fails, no list may be
// lost or damaged: every folder list stays as the clean run left it, the combined list is the clean
// one or made of its lines, each once, nothing outside the base changes, and nothing the run made
// is left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "app/catalog.h"
#include "program_tree.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;
using testing::FaultyOs;
using testing::Files;
using testing::OsCall;
using testing::Repeat;

// A map with its own title, in both modes' eyes: a world marker and message the byte
// search finds, in a map file with a header, entity lump and player start.
std::string titled(const std::string& title) {
  const std::string text = tools::entity_text(
      {{{"classname", "worldspawn"}, {"message", title}}, {{"classname", "info_player_start"}}});
  return tools::bsp_map(tools::MapLayout::kVersion29, text, 40000, 100);
}

// A titled map with geometry, whose picture the catalogue draws.
std::string titled_with_layout(const std::string& title) {
  const std::string text = tools::entity_text(
      {{{"classname", "worldspawn"}, {"message", title}}, {{"classname", "info_player_start"}}});
  const tools::MapLayout layout = tools::MapLayout::kVersion29;
  return tools::geometry_map(layout, tools::room_geometry(layout), text);
}

// An exact run that also writes the catalogue into the base folder.
void catalog_main(Runtime& rt) {
  std::string place;
  rt.os.full_path(kCatalogFolderName, place);
  const CatalogOptions catalog{place, false, "mapsweep test"};
  build_map_lists(rt, {ScanMode::kCatalog, nullptr, nullptr, Language::kEnglish, &catalog});
}

// The lines of a list, in order.
std::vector<std::string> lines_of(const std::string& list) {
  std::vector<std::string> lines;
  std::istringstream in(list);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Which mode is swept, and whether an unreadable map file still gets a line (the byte
// search lists it with the empty title; the exact mode leaves it out).
struct Mode {
  const char* name;
  MainRoutine routine;
  bool lists_unreadable_maps;
};

void PrintTo(const Mode& mode, std::ostream* out) {
  *out << mode.name;
}

class FaultSweep : public testing::ProgramTree, public ::testing::WithParamInterface<Mode> {
 protected:
  // Game folders with archives and loose maps, every map with a title of its own and no
  // line shared between folders; a folder with nothing to list; a file outside the base.
  void build_installation() {
    tree_.write_file("pristine/alpha/pak0.pak",
                     tools::pack_archive({{"maps/a1.bsp", titled("Alpha One")},
                                          {"maps/a2.bsp", titled("Alpha Two")}}));
    tree_.write_file("pristine/alpha/maps/a3.bsp", titled("Alpha Three"));
    tree_.write_file("pristine/beta/maps/b1.bsp", titled("Beta One"));
    tree_.write_file("pristine/beta/maps/b2.bsp", titled_with_layout("Beta Two"));
    tree_.write_file("pristine/gamma/PAK0.PAK",
                     tools::pack_archive({{"maps/g1.bsp", titled("Gamma One")}}));
    tree_.write_file("pristine/gamma/pak1.pak",
                     tools::pack_archive({{"maps/g2.bsp", titled("Gamma Two")}}));
    tree_.make_dir("pristine/empty");
    restore();
    ASSERT_EQ(run({kButtonYes}, GetParam().routine), kExitDone);
    fs::remove_all(tree_.path("pristine"));
    fs::copy(tree_.path("base"), tree_.path("pristine"), fs::copy_options::recursive);
    clean_ = tree_.files();
    ASSERT_EQ(lines_of(clean_.at("base/maps.lst")).size(), 7u) << clean_.at("base/maps.lst");
  }

  // The base folder as the clean run left it.
  void restore() {
    native_->set_current_directory(tree_.root());  // Windows keeps the current folder
    fs::remove_all(tree_.path("base"));
    fs::copy(tree_.path("pristine"), tree_.path("base"), fs::copy_options::recursive);
  }

  // Runs over a fresh copy with `fault` added to a fresh fault-injecting OS; the calls the
  // run made.
  int run_with(const std::optional<testing::Fault>& fault, int& calls) {
    restore();
    FaultyOs faulty(*native_);
    if (fault) faulty.add(*fault);
    dialog_ = testing::ScriptedDialog({kButtonYes});
    native_->set_current_directory(tree_.path("base"));
    const int status = program_entry(faulty, dialog_, GetParam().routine);
    calls = static_cast<int>(faulty.log().size());
    return status;
  }

  // What every run must leave, whatever failed.
  void expect_no_list_lost(const std::string& what) {
    SCOPED_TRACE(what);
    const Files now = tree_.files();
    std::set<std::string> allowed_lines;
    for (const std::string& line : lines_of(clean_.at("base/maps.lst"))) allowed_lines.insert(line);
    // The byte search still lists an unreadable map file, with the empty title.
    if (GetParam().lists_unreadable_maps) {
      for (const char* name : {"a3", "b1", "b2"}) allowed_lines.insert(std::string(name) + " \"\"");
    }
    for (const auto& [path, bytes] : now) {
      if (path == "base/maps.lst" || !path.ends_with("maps.lst")) continue;
      EXPECT_EQ(clean_.count(path) ? clean_.at(path) : "(none)", bytes) << path;
    }
    for (const auto& [path, bytes] : clean_) {
      if (path.ends_with("maps.lst") || path.starts_with("pristine/")) continue;
      const std::string& kept = catalog_file_set_aside(now, path);
      EXPECT_TRUE(now.count(kept)) << path << " is gone";
      if (now.count(kept)) {
        EXPECT_EQ(now.at(kept), bytes) << path;
      }
    }
    ASSERT_TRUE(now.count("base/maps.lst"));
    if (now.at("base/maps.lst") != clean_.at("base/maps.lst")) {
      std::set<std::string> seen;
      for (const std::string& line : lines_of(now.at("base/maps.lst"))) {
        EXPECT_TRUE(allowed_lines.count(line)) << "combined list holds: " << line;
        EXPECT_TRUE(seen.insert(line).second) << "combined list repeats: " << line;
      }
    }
  }

  // Where the old catalogue was moved aside to make room for the new one and every call
  // failed from then on, it waits under its temporary name, whole, for the next run to put
  // it back: the path it has there, else `path` itself.
  static std::string catalog_file_set_aside(const Files& now, const std::string& path) {
    const std::string place = "base/maps.catalog/";
    if (!path.starts_with(place) || now.count(path)) return path;
    for (const auto& [other, bytes] : now) {
      const std::size_t end = other.find('/', place.size());
      if (other.starts_with("base/maps.catalog.mapsweep-") && end != std::string::npos &&
          other.substr(end + 1) == path.substr(place.size())) {
        return other;
      }
    }
    return path;
  }

  // Nothing the run made may stay behind but, where deleting it kept failing, its folder
  // list (which the next run cannot tell from a file of the user's).
  void expect_nothing_left(bool but_the_folder_list) {
    for (const auto& [path, bytes] : tree_.files()) {
      if (path.starts_with("pristine/")) continue;
      EXPECT_EQ(path.find(".mapsweep-"), std::string::npos) << path;
      if (!but_the_folder_list) {
        EXPECT_FALSE(path.ends_with(".tmp")) << path;
      }
    }
  }

  Files clean_;
};

TEST_P(FaultSweep, NoFailedCallLosesOrDamagesAList) {
  build_installation();
  int clean_calls = 0;
  ASSERT_EQ(run_with(std::nullopt, clean_calls), kExitDone);
  ASSERT_EQ(tree_.files(), clean_);
  ASSERT_GT(clean_calls, 100);
  RecordProperty("calls_swept", clean_calls);
  std::cout << GetParam().name << ": sweeping " << clean_calls << " calls\n";

  for (int n = 1; n <= clean_calls; ++n) {
    for (const Repeat repeat : {Repeat::kOnce, Repeat::kFromThenOn}) {
      const bool once = repeat == Repeat::kOnce;
      const std::string what =
          "call " + std::to_string(n) + (once ? " fails once" : " and on fail");
      SCOPED_TRACE(what);
      int calls = 0;
      const int status = run_with(
          testing::Fault{OsCall::kAny, n, os::kErrorGenFailure, repeat, {}, {}, {}}, calls);
      EXPECT_TRUE(status == kExitDone || status == kExitRefused) << what;
      expect_no_list_lost(what);
      if (once) {
        expect_nothing_left(false);
        continue;
      }
      // After a failure that would not go away, a clean run sets everything right.
      const Files left = tree_.files();
      dialog_ = testing::ScriptedDialog({kButtonYes});
      native_->set_current_directory(tree_.path("base"));
      EXPECT_EQ(program_entry(*native_, dialog_, GetParam().routine), kExitDone) << what;
      Files now = tree_.files();
      for (const auto& [path, bytes] : left) {
        if (path.ends_with(".tmp") && !clean_.count(path)) now.erase(path);
      }
      EXPECT_EQ(now, clean_) << what;
    }
    if (HasFailure()) break;  // one call's report is enough to go on
  }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, FaultSweep,
                         ::testing::Values(Mode{"ByteSearch", WINMAIN, true},
                                           Mode{"Exact", exact_main, false},
                                           Mode{"Catalog", catalog_main, false}),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace mapsweep
