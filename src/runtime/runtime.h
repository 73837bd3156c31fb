// Everything the runtime services keep for one run: the error state, the open channels,
// the directory search, and the OS and dialog they work through. One object per run,
// passed by reference; nothing is global, so tests can run many side by side.
#pragma once

#include "runtime/directory_search.h"
#include "runtime/error_state.h"
#include "runtime/file_channels.h"
#include "runtime/platform/os.h"

namespace mapsweep {

struct Runtime {
  Runtime(os::Os& os_in, os::Dialog& dialog_in) : os(os_in), dialog(dialog_in) {}
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  os::Os& os;
  os::Dialog& dialog;
  ErrorState err;
  ChannelList channels;
  SearchState search;
  FolderLock lock;
  // The process's exit status: 0 for a run that went through, others as the program sets.
  int exit_status = 0;
};

}  // namespace mapsweep
