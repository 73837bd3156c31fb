// What the system under the tests enforces where that depends on how the tests are run,
// so that a test can skip, saying why, instead of asserting what the system cannot do;
// and how each system marks a file the way such a test needs it.
#pragma once

#include <string>

namespace mapsweep::testing {

// Whether opening a read-only file for writing is refused. The POSIX layer refuses it for
// every user; Windows does too, but Wine keeps the read-only attribute as missing write
// permission, which a process running as root is not held to.
bool read_only_files_are_refused();

// Whether the tests run as the system's superuser (root), who may give files away. Never
// on Windows, which has no such user.
bool runs_as_root();

// Makes the file at this absolute path read-only as its system marks files so: readable,
// but without write permission on POSIX, with the read-only attribute on Windows. False
// when that cannot be done.
bool make_read_only(const std::string& absolute_path);

}  // namespace mapsweep::testing
