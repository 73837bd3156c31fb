// Taking back a file that an exclusive create has just made, when the descriptor turns out
// unfit to be kept (its lock cannot be had, it cannot be looked at): the name was free a
// moment ago, so the file is nobody's but the caller's, and leaving it would leave an
// entry that blocks the name and that nothing will ever remove.
#pragma once

#include <string>

namespace mapsweep::os::posix_created {

// Removes the entry `path` (relative to the folder open as at_fd, or AT_FDCWD) when it is
// still the file open as fd: an entry that someone put in its place since is left alone.
// When fd cannot be looked at, the entry is taken to be the one just created. Does not
// close fd.
void remove_if_still_created(int at_fd, const std::string& path, int fd);

}  // namespace mapsweep::os::posix_created
