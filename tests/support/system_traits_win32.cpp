#include <windows.h>

#include <string>

#include "support/system_traits.h"

namespace mapsweep::testing {

// Asks the system itself with a scratch file in the temporary folder.
bool read_only_files_are_refused() {
  static const bool refused = [] {
    char folder[MAX_PATH];
    char probe[MAX_PATH];
    if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "ro", 0, probe) == 0) {
      return true;
    }
    SetFileAttributesA(probe, FILE_ATTRIBUTE_READONLY);
    const HANDLE h = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    SetFileAttributesA(probe, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe);
    return h == INVALID_HANDLE_VALUE;
  }();
  return refused;
}

bool runs_as_root() {
  return false;
}

bool make_read_only(const std::string& absolute_path) {
  return SetFileAttributesA(absolute_path.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace mapsweep::testing
