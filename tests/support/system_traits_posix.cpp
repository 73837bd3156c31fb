#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "support/system_traits.h"

namespace mapsweep::testing {

// The POSIX layer judges the permission bits itself, so root is refused like anyone.
bool read_only_files_are_refused() {
  return true;
}

bool runs_as_root() {
  return ::geteuid() == 0;
}

bool make_read_only(const std::string& absolute_path) {
  namespace fs = std::filesystem;
  std::error_code failed;
  fs::permissions(absolute_path, fs::perms::owner_read | fs::perms::group_read, failed);
  return !failed;
}

}  // namespace mapsweep::testing
