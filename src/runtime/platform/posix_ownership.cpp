#include "runtime/platform/posix_ownership.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/platform/posix_calls.h"

namespace mapsweep::os::posix_ownership {
namespace {

// The permission bits a list may carry. Set-user-ID, set-group-ID and sticky bits are
// never passed on: a list is text others' files went into, never a program to run with
// its owner's rights, whatever the file it replaces was made to be.
constexpr mode_t kListPermissions = 0777;

// Only root may give a file away; for anyone else the refusal leaves the file their own,
// which is what it should be then.
int change_owner(int file, Owner owner, const std::optional<Owner>& known) {
  Owner now{};
  if (known) {
    now = *known;
  } else {
    struct stat st;
    if (::fstat(file, &st) != 0) return errno;
    now = Owner{st.st_uid, st.st_gid};
  }
  if (now.uid == owner.uid && now.gid == owner.gid) return 0;
  if (::fchown(file, owner.uid, owner.gid) != 0 && errno != EPERM) return errno;
  return 0;
}

}  // namespace

int take_over(int created, int replaced, const std::optional<Owner>& created_as) {
  struct stat old;
  if (::fstat(replaced, &old) != 0) return errno;
  if (const int error = change_owner(created, Owner{old.st_uid, old.st_gid}, created_as)) {
    return error;
  }
  if (::fchmod(created, old.st_mode & kListPermissions) != 0) return errno;
  return 0;
}

int give_to_folder_owner(int created, const std::optional<Owner>& folder_owner,
                         const std::optional<Owner>& created_as) {
  return folder_owner ? change_owner(created, *folder_owner, created_as) : 0;
}

}  // namespace mapsweep::os::posix_ownership
