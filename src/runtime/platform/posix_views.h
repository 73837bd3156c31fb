// Views of files on POSIX systems: mmap, guarded against SIGBUS.
//
// Reading a page of a mapped file that was cut short while mapped, or whose disk failed,
// raises SIGBUS, which would end the process in the middle of a scan. The guard maps a
// page of zeros there instead, counts the fault and lets the read go on; whoever lent the
// bytes compares the count and treats the read as failed. Faults outside a live view are
// left to whatever handled SIGBUS before.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mapsweep::os::posix_views {

// Maps length bytes of the open file from offset (a multiple of the page size) for
// reading, with its pages loaded now. 0, or the errno of the failure.
int map(int fd, std::int64_t offset, std::size_t length, const char** view);
// 0, or the errno of the failure (EINVAL for a view this file did not map).
int unmap(const char* view, std::size_t length);
// The faults the guard has handled in this process so far.
std::uint64_t faults();

}  // namespace mapsweep::os::posix_views
