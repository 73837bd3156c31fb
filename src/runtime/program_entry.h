// Program entry: prepares a clear runtime, runs the main routine, and reports exit code 0
// on every path, whatever the routine did.
#pragma once

#include "runtime/runtime.h"

namespace mapsweep {

using MainRoutine = void (*)(Runtime&);

int program_entry(os::Os& os, os::Dialog& dialog, MainRoutine main_routine);

}  // namespace mapsweep
