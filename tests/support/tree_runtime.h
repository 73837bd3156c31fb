// The runtime most tests work with: the native OS wrapped by FaultyOs (so any call can be
// made to fail), a scripted dialog, and a fresh temporary tree as the current directory.
// Test fixtures inherit it.
#pragma once

#include <filesystem>
#include <memory>
#include <system_error>

#include "runtime/runtime.h"
#include "support/faulty_os.h"
#include "support/scripted_dialog.h"
#include "support/temp_tree.h"

namespace mapsweep::testing {

class TreeRuntime {
 protected:
  TreeRuntime() : native_(os::make_native_os()), faulty_(*native_), rt_(faulty_, dialog_) {
    native_->set_current_directory(tree_.root());
  }
  // On Windows the runtime's current directory is the process's, and a process's current
  // directory cannot be removed: the process goes back before the tree is removed.
  ~TreeRuntime() {
    std::error_code ignored;
    std::filesystem::current_path(process_directory_, ignored);
  }

  const std::filesystem::path process_directory_ = std::filesystem::current_path();

  TempTree tree_;
  std::unique_ptr<os::Os> native_;
  FaultyOs faulty_;
  ScriptedDialog dialog_;
  Runtime rt_;
};

}  // namespace mapsweep::testing
