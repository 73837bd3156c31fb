#include "runtime/program_entry.h"

namespace mapsweep {

int program_entry(os::Os& os, os::Dialog& dialog, MainRoutine main_routine) {
  Runtime rt(os, dialog);  // clear error state, no channel, no directory search
  try {
    main_routine(rt);
  } catch (...) {
    // A failure never ends the run with another code; a stray trap or exhausted storage
    // that the routine did not catch ends it here, quietly, like any other end.
  }
  return 0;
}

}  // namespace mapsweep
