// Whole runs of the program over a base folder inside a temporary tree, with the rest of
// the tree standing for everything outside the base that a run must never touch.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>

#include "app/scan_context.h"
#include "runtime/message_box.h"
#include "runtime/program_entry.h"
#include "support/tree_runtime.h"
#include "tools/map_archive_writer.h"

namespace mapsweep::testing {

using Files = std::map<std::string, std::string>;

class ProgramTree : public ::testing::Test, protected TreeRuntime {
 protected:
  ProgramTree() {
    tree_.make_dir("base");
    tree_.write_file("outside/keep.txt", "untouched\r\n");
  }

  // Runs the program in the base folder, answering its boxes from the script; the exit
  // status it reports.
  int run(std::deque<int> answers = {kButtonYes}, MainRoutine routine = WINMAIN) {
    dialog_ = ScriptedDialog(std::move(answers));
    faulty_.set_current_directory(tree_.path("base"));
    return program_entry(faulty_, dialog_, routine);
  }
  int run_exact() { return run({kButtonYes}, exact_main); }

  // Map data whose world entity carries `title`, loose in a game folder of the base.
  void loose_map(const std::string& folder, const std::string& name, const std::string& title) {
    tree_.write_file("base/" + folder + "/maps/" + name + ".bsp",
                     tools::map_data(2000, 300, tools::world_entity_text({title, {}})));
  }

  // Every file of the tree whose name holds `part`.
  Files files_named(const std::string& part) const {
    Files found;
    for (const auto& [path, bytes] : tree_.files()) {
      if (path.find(part) != std::string::npos) found[path] = bytes;
    }
    return found;
  }
};

}  // namespace mapsweep::testing
