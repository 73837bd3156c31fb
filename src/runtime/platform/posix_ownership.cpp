#include "runtime/platform/posix_ownership.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/platform/posix_calls.h"

namespace mapsweep::os::posix_ownership {
namespace {

// A folder opened only to create in it and to learn its owner needs no read permission
// where the system has O_PATH.
#ifdef O_PATH
constexpr int kFolderOnly = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderOnly = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The permission bits a list may carry. Set-user-ID, set-group-ID and sticky bits are
// never passed on: a list is text others' files went into, never a program to run with
// its owner's rights, whatever the file it replaces was made to be.
constexpr mode_t kListPermissions = 0777;

// Only root may give a file away; for anyone else the refusal leaves the file their own,
// which is what it should be then.
int change_owner(int file, Owner owner) {
  struct stat now;
  if (::fstat(file, &now) != 0) return errno;
  if (now.st_uid == owner.uid && now.st_gid == owner.gid) return 0;
  if (::fchown(file, owner.uid, owner.gid) != 0 && errno != EPERM) return errno;
  return 0;
}

}  // namespace

CreationFolder::CreationFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    name_ = path;
    return;
  }
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  fd_ = retry_on_eintr([&] { return ::open(folder.c_str(), kFolderOnly); });
  struct stat st;
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
    name_ = path.substr(slash + 1);
    owner_ = Owner{st.st_uid, st.st_gid};
    return;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  name_ = path;
}

CreationFolder::~CreationFolder() {
  if (fd_ >= 0) ::close(fd_);
}

int CreationFolder::descriptor() const {
  return fd_ >= 0 ? fd_ : AT_FDCWD;
}

int take_over(int created, int replaced) {
  struct stat old;
  if (::fstat(replaced, &old) != 0) return errno;
  if (const int error = change_owner(created, Owner{old.st_uid, old.st_gid})) return error;
  if (::fchmod(created, old.st_mode & kListPermissions) != 0) return errno;
  return 0;
}

int give_to_folder_owner(int created, const std::optional<Owner>& folder_owner) {
  return folder_owner ? change_owner(created, *folder_owner) : 0;
}

}  // namespace mapsweep::os::posix_ownership
