// Who a new file belongs to on POSIX systems. A file the runtime creates to take another's
// place gets that file's owner, group and permission bits; one that replaces nothing gets
// the owner and group of the folder it is made in, where the process may give a file away,
// so that a run as root leaves no list behind that the folder's owner cannot update.
//
// Everything goes through descriptors. The file is created through its folder's descriptor,
// and the owner read from that descriptor is that of the folder that holds the file; the
// owner and mode are then changed on the new file's own descriptor, so that a name swapped
// for a link meanwhile cannot turn the change onto a file elsewhere.
#pragma once

#include <sys/types.h>

#include <optional>

namespace mapsweep::os::posix_ownership {

struct Owner {
  uid_t uid = 0;
  gid_t gid = 0;
};

// Gives `created` the owner, group and permission bits of `replaced`. 0, or the errno of
// the failure; a refused change of owner (the process is not root) is no failure.
// `created_as`: whom `created` belongs to, when known (it is looked at otherwise).
int take_over(int created, int replaced, const std::optional<Owner>& created_as = std::nullopt);
// Gives `created` the folder's owner and group, when there is one and the process may.
// 0, or the errno of the failure.
int give_to_folder_owner(int created, const std::optional<Owner>& folder_owner,
                         const std::optional<Owner>& created_as = std::nullopt);

}  // namespace mapsweep::os::posix_ownership
