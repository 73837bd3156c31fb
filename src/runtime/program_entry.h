// Program entry: prepares a clear runtime, runs the main routine, and reports the exit
// status the routine set (0 unless it set another), whatever else it did.
#pragma once

#include <functional>

#include "runtime/runtime.h"

namespace mapsweep {

using MainRoutine = std::function<void(Runtime&)>;

// Exit statuses: a run that went through (files passed over included), a run refused or
// stopped before it could visit folders, and a command line that could not be used.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
// The lists were done, but the catalogue asked for was left as it was.
inline constexpr int kExitCatalogLeft = 3;

int program_entry(os::Os& os, os::Dialog& dialog, const MainRoutine& main_routine);

}  // namespace mapsweep
