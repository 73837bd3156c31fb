// What the system under the tests enforces where that depends on how the tests are run,
// so that a test can skip, saying why, instead of asserting what the system cannot do.
#pragma once

namespace mapsweep::testing {

// Whether opening a read-only file for writing is refused. The POSIX layer refuses it for
// every user; Windows does too, but Wine keeps the read-only attribute as missing write
// permission, which a process running as root is not held to.
bool read_only_files_are_refused();

}  // namespace mapsweep::testing
