#include "support/system_traits.h"

namespace mapsweep::testing {

// The POSIX layer judges the permission bits itself, so root is refused like anyone.
bool read_only_files_are_refused() {
  return true;
}

}  // namespace mapsweep::testing
