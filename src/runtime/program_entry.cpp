#include "runtime/program_entry.h"

#include <cstdlib>
#include <cstring>

namespace mapsweep {

int program_entry(os::Os& os, os::Dialog& dialog, const MainRoutine& main_routine) {
  Runtime rt(os, dialog);  // clear error state, no channel, no directory search
  // Only the benchmark asks for views, to set them against reading on the same files.
  const char* views = std::getenv("MAPSWEEP_VIEWS");
  rt.channels.lend_views = views != nullptr && std::strcmp(views, "1") == 0;
  try {
    main_routine(rt);
  } catch (...) {
    // A stray trap or exhausted storage that the routine did not catch ends the run here,
    // quietly, with the status the routine set, like any other end.
  }
  // What the routine left open was not finished: no file it was replacing is replaced.
  abandon_all_channels(rt);
  end_search(rt);  // an open search holds its folder, which then could not be removed
  unlock_directory(rt);
  return rt.exit_status;
}

}  // namespace mapsweep
