#include "runtime/platform/posix_created.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/platform/posix_calls.h"

namespace mapsweep::os::posix_created {

void remove_if_still_created(int at_fd, const std::string& path, int fd) {
  struct stat created;
  if (::fstat(fd, &created) == 0) {
    // The entry itself, never what a link there leads to.
    struct stat entry;
    if (::fstatat(at_fd, path.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (entry.st_dev != created.st_dev || entry.st_ino != created.st_ino) return;
  }
  retry_on_eintr([&] { return ::unlinkat(at_fd, path.c_str(), 0); });
}

}  // namespace mapsweep::os::posix_created
