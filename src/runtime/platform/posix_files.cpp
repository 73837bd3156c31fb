// The rules both halves of the POSIX Os share: errno translated into Windows last-error
// codes, the look at a resolved name, and files opened only as what they were judged.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/platform/name_matching.h"
#include "runtime/platform/posix_calls.h"
#include "runtime/platform/posix_created.h"
#include "runtime/platform/posix_os.h"

namespace mapsweep::os::posix_os {

// ---------------------------------------------------------------------------------------
// System calls

// errno to the Windows last-error code the runtime's translation expects:
//
//   ENOENT                  2  file not found (3 when a folder of the path is missing)
//   ENOTDIR                 3  path not found: a folder of the path is not a folder
//   EACCES, EPERM, EISDIR   5  access denied
//   EMFILE, ENFILE          4  too many open files
//   ENOMEM                  8  not enough memory
//   ENOSPC, EDQUOT, EFBIG   112 disk full
//   EROFS                   19 write protected
//   EIO                     23 data error
//   EBADF                   6  invalid handle
//   ENAMETOOLONG            206 file name too long
//   ELOOP                   1921 the name cannot be resolved
//   anything else           31 general failure
//
// A lock held elsewhere (EWOULDBLOCK from flock) is a sharing violation, 32; that is
// decided where flock is called, since EAGAIN means other things elsewhere.
std::uint32_t code_for_errno(int error) {
  // clang-format off
  switch (error) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENOMEM: return kErrorNotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kErrorDiskFull;
    case EROFS: return kErrorWriteProtect;
    case EIO: return kErrorCrc;
    case EBADF: return kErrorInvalidHandle;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ELOOP: return kErrorCantResolveFilename;
    default: return kErrorGenFailure;
  }
  // clang-format on
}

// The entry itself, a link not followed: what the look that resolved the name found, where
// it took one (the entry, or that no entry has the name in any case), else a look now.
// False with errno set when there is no such entry.
bool look_at_entry(const Located& located, struct stat& st) {
  if (located.look.taken) {
    st = located.look.st;
    return true;
  }
  if (located.look.missing) {
    errno = ENOENT;
    return false;
  }
  return ::fstatat(located.folder.get(), located.leaf().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// A folder on the way to a name could not be opened: missing or no folder, Windows says the
// path is not found.
std::uint32_t code_for_walk(int error) {
  return error == ENOENT || error == ENOTDIR ? kErrorPathNotFound : code_for_errno(error);
}

// ---------------------------------------------------------------------------------------
// Names: ASCII case folding, NTFS order and DOS wildcards. Bytes above 127 are never
// folded, so names in any encoding compare byte for byte.

bool has_wildcards(std::string_view name) {
  return name.find_first_of("*?") != name.npos;
}

// "*.*" means every name on Windows, dot or not; any other pattern matches plainly.
bool search_pattern_matches(std::string_view pattern, std::string_view name) {
  return pattern == "*.*" || wildcard_match(pattern, name);
}

// ---------------------------------------------------------------------------------------
// Attributes

bool is_read_only_file(const struct stat& st) {
  return S_ISREG(st.st_mode) && posix_lookup::has_no_write_bit(st);
}

// ---------------------------------------------------------------------------------------
// Opening a file

int open_flags_for(std::uint32_t access) {
  const bool read = (access & kGenericRead) != 0;
  const bool write = (access & kGenericWrite) != 0;
  if (write) return read ? O_RDWR : O_WRONLY;
  return O_RDONLY;
}

// Stands in for the share mode: share mode 0 excludes every other open of the file, here
// or in another process; any other share mode still yields to an exclusive holder.
std::uint32_t lock_for_share_mode(int fd, std::uint32_t share_mode) {
  const int operation = (share_mode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
  if (retry_on_eintr([&] { return ::flock(fd, operation); }) == 0) return kErrorSuccess;
  return errno == EWOULDBLOCK ? kErrorSharingViolation : code_for_errno(errno);
}

// Checks the descriptor itself, so that what is kept open is what was judged: a regular
// file, writable when asked to be, and not held by anyone else. It was opened nonblocking,
// so that an entry that turned into a FIFO since it was checked cannot make the open wait;
// the flag stays, as it changes nothing for a regular file.
std::uint32_t vet_descriptor(int fd, bool created, std::uint32_t access, std::uint32_t share_mode,
                             struct stat& st) {
  if (::fstat(fd, &st) != 0) return code_for_errno(errno);
  if (!S_ISREG(st.st_mode)) return kErrorAccessDenied;
  // Decided from the mode bits: root could write anyway, Windows could not. A file this
  // open has just created is writable whatever the umask made of its mode.
  if ((access & kGenericWrite) != 0 && !created && posix_lookup::has_no_write_bit(st)) {
    return kErrorAccessDenied;
  }
  return lock_for_share_mode(fd, share_mode);
}

// name is taken in the folder open as at_fd.
OpenedFile open_vetted(int at_fd, const std::string& path, int flags, std::uint32_t access,
                       std::uint32_t share_mode) {
  const int fd = retry_on_eintr([&] {
    return ::openat(at_fd, path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
  });
  if (fd < 0) return {-1, errno == EEXIST ? kErrorAlreadyExists : code_for_errno(errno)};
  const bool created = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
  struct stat st {};
  const std::uint32_t error = vet_descriptor(fd, created, access, share_mode, st);
  if (error == kErrorSuccess) return {fd, kErrorSuccess, st};
  if (created) posix_created::remove_if_still_created(at_fd, path, fd);
  ::close(fd);
  return {-1, error};
}

}  // namespace mapsweep::os::posix_os
