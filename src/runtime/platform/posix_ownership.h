// Who a new file belongs to on POSIX systems. A file the runtime creates to take another's
// place gets that file's owner, group and permission bits; one that replaces nothing gets
// the owner and group of the folder it is made in, where the process may give a file away,
// so that a run as root leaves no list behind that the folder's owner cannot update.
//
// Everything goes through descriptors. The folder is opened once and the file created
// through that descriptor, so the owner read from it is that of the folder that holds the
// file; the owner and mode are then changed on the new file's own descriptor, so that a
// name swapped for a link meanwhile cannot turn the change onto a file elsewhere.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace mapsweep::os::posix_ownership {

struct Owner {
  uid_t uid = 0;
  gid_t gid = 0;
};

// The folder a file is about to be created in, open for as long as this lives.
class CreationFolder {
 public:
  // path: the absolute path of the file to create.
  explicit CreationFolder(const std::string& path);
  ~CreationFolder();
  CreationFolder(const CreationFolder&) = delete;
  CreationFolder& operator=(const CreationFolder&) = delete;

  // Where to create the file and under which name: the folder's descriptor and the bare
  // name, or, when the folder could not be opened, AT_FDCWD and the whole path (the create
  // then says what is wrong with it).
  int descriptor() const;
  const std::string& name() const { return name_; }
  // The folder's owner, when it could be opened.
  const std::optional<Owner>& owner() const { return owner_; }

 private:
  int fd_ = -1;
  std::string name_;
  std::optional<Owner> owner_;
};

// Gives `created` the owner, group and permission bits of `replaced`. 0, or the errno of
// the failure; a refused change of owner (the process is not root) is no failure.
int take_over(int created, int replaced);
// Gives `created` the folder's owner and group, when there is one and the process may.
// 0, or the errno of the failure.
int give_to_folder_owner(int created, const std::optional<Owner>& folder_owner);

}  // namespace mapsweep::os::posix_ownership
