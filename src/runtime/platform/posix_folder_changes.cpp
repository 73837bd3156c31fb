// The POSIX Os's changes to folders as wholes: making one, removing an empty one, and moving
// an entry to a name nobody has. All of them work on the entry itself, never on what a link
// leads to, and none of them replaces anything, so a name swapped meanwhile costs nothing
// but a failed call.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "runtime/platform/os.h"
#include "runtime/platform/posix_os.h"

namespace mapsweep::os::posix_os {
namespace {

// Whether an entry has the name in any letter case, as Windows would find it.
bool entry_exists(const Located& located) {
  struct stat st;
  return look_at_entry(located, st);
}

// renameat that fails rather than replace: renameat2 with RENAME_NOREPLACE where the kernel
// and file system offer it, else a look first (the names moved are the run's own).
int rename_without_replacing(int from_folder, const std::string& from, int to_folder,
                             const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(from_folder, from.c_str(), to_folder, to.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  struct stat st;
  if (::fstatat(to_folder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(from_folder, from.c_str(), to_folder, to.c_str()) == 0 ? 0 : errno;
}

std::uint32_t code_for_change(int error) {
  if (error == EEXIST || error == ENOTEMPTY) {
    return error == EEXIST ? kErrorAlreadyExists : kErrorDirNotEmpty;
  }
  if (error == EXDEV) return kErrorNotSameDevice;
  return code_for_errno(error);
}

}  // namespace

Result PosixOs::create_directory(const std::string& raw_name) {
  folders_.begin_call();
  const std::optional<Located> located = locate(raw_name);
  if (!located || located->parts.empty()) return failure(kErrorInvalidName);
  if (!located->folder.valid()) return failure(code_for_walk(located->error));
  if (entry_exists(*located)) return failure(kErrorAlreadyExists);
  if (::mkdirat(located->folder.get(), located->leaf().c_str(), 0777) != 0) {
    return failure(code_for_change(errno));
  }
  folders_.note_added(located->folder_id, located->leaf(), nullptr, DT_DIR);
  folders_.hold_made(located->parts, located->folder.get());
  return {1, kErrorSuccess};
}

Result PosixOs::remove_directory(const std::string& raw_name) {
  folders_.begin_call();
  const std::optional<Located> located = locate(raw_name);
  if (!located || located->parts.empty()) return failure(kErrorInvalidName);
  if (!located->folder.valid()) return failure(code_for_walk(located->error));
  struct stat st;
  if (!look_at_entry(*located, st)) return failure(code_for_errno(errno));
  if (!S_ISDIR(st.st_mode)) return failure(kErrorDirectory);
  if (::unlinkat(located->folder.get(), located->leaf().c_str(), AT_REMOVEDIR) != 0) {
    return failure(code_for_change(errno));
  }
  folders_.note_removed(located->folder_id, located->leaf());
  folders_.forget_made(located->parts);
  return {1, kErrorSuccess};
}

Result PosixOs::move_entry(const std::string& raw_from, const std::string& raw_to) {
  folders_.begin_call();
  const std::optional<Located> from = locate(raw_from);
  const std::optional<Located> to = locate(raw_to);
  if (!from || !to || from->parts.empty() || to->parts.empty()) {
    return failure(kErrorInvalidName);
  }
  if (!from->folder.valid()) return failure(code_for_walk(from->error));
  if (!to->folder.valid()) return failure(code_for_walk(to->error));
  if (!entry_exists(*from)) return failure(kErrorFileNotFound);
  if (entry_exists(*to)) return failure(kErrorAlreadyExists);
  const int error =
      rename_without_replacing(from->folder.get(), from->leaf(), to->folder.get(), to->leaf());
  if (error != 0) return failure(code_for_change(error));
  folders_.note_renamed(from->folder_id, from->leaf(), to->folder_id, to->leaf());
  folders_.forget_made(from->parts);
  return {1, kErrorSuccess};
}

}  // namespace mapsweep::os::posix_os
