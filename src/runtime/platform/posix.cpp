// The platform interface on POSIX systems. This file and posix_directories.cpp may hold
// only what it takes to give the runtime, on a POSIX kernel, the Windows file-system
// behaviour it was built around: system calls retried on EINTR, errno translated into
// Windows last-error codes, and the emulation of case-insensitive names, NTFS directory
// order, DOS wildcards, attributes, read-only files, exclusive opens and a logical current
// directory (the terminal dialog has a file of its own). They use the C++ standard library
// and the POSIX API only, and know nothing of channels, strings or maps. This file holds
// what is done to files; posix_directories.cpp what is done to folders and searches.

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "runtime/platform/os.h"
#include "runtime/platform/posix_calls.h"
#include "runtime/platform/posix_os.h"

namespace mapsweep::os {
namespace posix_os {

// A name resolved against the current directory through the folders held open; nothing for
// a name the system could not take.
std::optional<Located> PosixOs::locate(const std::string& raw_name, bool look) const {
  const std::string name(up_to_nul(raw_name));
  if (name.empty() || has_wildcards(name)) return std::nullopt;
  return folders_.locate(name, look);
}

Result PosixOs::create_file(const std::string& raw_name, std::uint32_t access,
                            std::uint32_t share_mode, std::uint32_t disposition) {
  folders_.begin_call();
  const std::string name(up_to_nul(raw_name));
  if (name.empty()) return failure(kErrorPathNotFound, kInvalidHandle);
  if (has_wildcards(name)) return failure(kErrorInvalidName, kInvalidHandle);
  if (disposition != kOpenExisting && disposition != kOpenAlways && disposition != kCreateNew) {
    return failure(kErrorInvalidParameter, kInvalidHandle);
  }
  if (disposition == kOpenExisting) {
    if (const std::optional<Result> opened = open_exact(name, access, share_mode)) return *opened;
  }
  // An exclusive create needs no look at the name: the create itself tells whether it is
  // taken, and resolving finds it under another letter case.
  std::optional<Located> located = folders_.locate(name, disposition != kCreateNew);
  if (!located) return failure(kErrorPathNotFound, kInvalidHandle);
  if (!located->folder.valid()) return failure(code_for_walk(located->error), kInvalidHandle);
  if (disposition == kCreateNew) return create_new(*located, access, share_mode);
  // The name can be taken between the look and the exclusive create; look again then.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Result opened = open_resolved(*located, access, share_mode, disposition);
    if (opened.value != kInvalidHandle || opened.last_error != kErrorAlreadyExists) {
      return opened;
    }
    located->look = {};
  }
  return failure(kErrorAccessDenied, kInvalidHandle);
}

// A file that exists in the current directory, named exactly as it is stored there (as a
// scan names the files it found, and as a list is named once it was looked at): opened at once
// and judged on the descriptor, which costs neither a look before the open nor a walk
// through the folder. The open is nonblocking, so a FIFO cannot make it wait; it creates
// nothing, and a file to be written is never reached through a link. Nothing when it
// fails: resolving the name then decides, and says why.
std::optional<Result> PosixOs::open_exact(const std::string& name, std::uint32_t access,
                                          std::uint32_t share_mode) {
  const std::optional<std::string> leaf = folders_.leaf_in_current(name);
  if (!leaf) return std::nullopt;
  const bool writable = (access & kGenericWrite) != 0;
  const int flags = open_flags_for(access) | (writable ? O_NOFOLLOW : 0);
  const OpenedFile opened =
      open_vetted(folders_.current_descriptor(), *leaf, flags, access, share_mode);
  if (opened.fd < 0) return std::nullopt;
  const std::int64_t size = writable ? -1 : opened.st.st_size;
  remember_file(opened.fd, FileRecord{writable, std::nullopt, size, std::nullopt});
  return Result{opened.fd, kErrorSuccess};
}

// Creates the file exclusively: any entry of that name, in any letter case (resolving
// found it), a link dangling or not, makes it fail with 80, as it cannot be the caller's.
// The owner the new file may be given is that of the folder it was made in, learnt from
// the descriptor it was made through.
Result PosixOs::create_new(const Located& located, std::uint32_t access,
                           std::uint32_t share_mode) {
  const int folder = located.folder.get();
  const OpenedFile opened = open_vetted(folder, located.leaf(),
                                        open_flags_for(access) | O_CREAT | O_EXCL, access,
                                        share_mode);
  if (opened.fd < 0) {
    return failure(opened.error == kErrorAlreadyExists ? kErrorFileExists : opened.error,
                   kInvalidHandle);
  }
  // One look at the folder, now that it holds the file, serves both its listing and the
  // owner the file may be given.
  struct stat folder_now;
  const bool looked = ::fstat(folder, &folder_now) == 0;
  folders_.note_added(located.folder_id, located.leaf(), looked ? &folder_now : nullptr);
  std::optional<posix_ownership::Owner> owner;
  if (looked) owner = posix_ownership::Owner{folder_now.st_uid, folder_now.st_gid};
  remember_file(opened.fd, FileRecord{(access & kGenericWrite) != 0, owner, -1,
                                      posix_ownership::Owner{opened.st.st_uid, opened.st.st_gid}});
  return {opened.fd, kErrorSuccess};
}

// Opens the existing regular file, or creates it for kOpenAlways. Only regular files are
// opened: folders, devices, FIFOs, sockets and dangling links are refused before any open,
// so none can block or be created through. A plain file that resolving has just looked at
// is not looked at again; a link is followed.
Result PosixOs::open_resolved(const Located& located, std::uint32_t access,
                              std::uint32_t share_mode, std::uint32_t disposition) {
  const int folder = located.folder.get();
  const std::string leaf = located.leaf();
  const ExactLook& look = located.look;
  struct stat st;
  bool exists = true;
  if (look.taken && S_ISREG(look.st.st_mode)) {
    // Opened as it was judged: the descriptor is checked again once open.
  } else if (look.taken && !S_ISLNK(look.st.st_mode)) {
    return failure(kErrorAccessDenied, kInvalidHandle);
  } else if (look.missing) {
    if (disposition == kOpenExisting) return failure(kErrorFileNotFound, kInvalidHandle);
    exists = false;
  } else if (::fstatat(folder, leaf.c_str(), &st, 0) == 0) {
    if (!S_ISREG(st.st_mode)) return failure(kErrorAccessDenied, kInvalidHandle);
  } else if (errno != ENOENT) {
    return failure(code_for_errno(errno), kInvalidHandle);
  } else if (::fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return failure(kErrorAccessDenied, kInvalidHandle);  // a link to nothing
  } else if (disposition == kOpenExisting) {
    return failure(kErrorFileNotFound, kInvalidHandle);
  } else {
    exists = false;
  }
  // Never O_TRUNC: the file is emptied, if at all, only once it is locked. A file opened to
  // be written is never reached through a link: a name judged a plain file a moment ago may
  // be a link to anything by now.
  int flags = open_flags_for(access);
  if (!exists) flags |= O_CREAT | O_EXCL;
  if ((access & kGenericWrite) != 0) flags |= O_NOFOLLOW;
  const OpenedFile opened = open_vetted(folder, leaf, flags, access, share_mode);
  if (opened.fd < 0) return failure(opened.error, kInvalidHandle);
  if (!exists) folders_.note_added(located.folder_id, leaf);
  const bool writable = (access & kGenericWrite) != 0;
  const std::int64_t size = writable ? -1 : opened.st.st_size;
  remember_file(opened.fd, FileRecord{writable, std::nullopt, size, std::nullopt});
  const bool reopened = exists && disposition == kOpenAlways;
  return {opened.fd, reopened ? kErrorAlreadyExists : kErrorSuccess};
}

void PosixOs::remember_file(int fd, FileRecord record) {
  const auto slot = static_cast<std::size_t>(fd);
  if (slot >= files_.size()) files_.resize(slot + 1);
  files_[slot] = record;
}

const PosixOs::FileRecord* PosixOs::file_record(Handle file) const {
  if (file < 0 || static_cast<std::uint64_t>(file) >= files_.size()) return nullptr;
  const std::optional<FileRecord>& slot = files_[static_cast<std::size_t>(file)];
  return slot ? &*slot : nullptr;
}

namespace {

// Large counts are moved in pieces that any read or write accepts.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

// Reads count bytes in pieces; `read_piece(done, into, piece)` is one read call for the
// bytes from `done` on. Every handle is a regular file (vetted at its open), and a read of
// one comes short only at its end: asking again there would only confirm it.
template <class ReadPiece>
Result read_in_pieces(void* into, std::uint32_t count, ReadPiece read_piece) {
  auto* bytes = static_cast<char*>(into);
  std::uint32_t done = 0;
  while (done < count) {
    const std::size_t piece = std::min<std::size_t>(count - done, kLargestTransfer);
    const ssize_t n = retry_on_eintr([&] { return read_piece(done, bytes + done, piece); });
    if (n < 0) return failure(code_for_errno(errno), done);
    done += static_cast<std::uint32_t>(n);
    if (static_cast<std::size_t>(n) < piece) break;  // end of file
  }
  return {done, kErrorSuccess};
}

}  // namespace

Result PosixOs::read_file(Handle file, void* into, std::uint32_t count) {
  if (file_record(file) == nullptr) return failure(kErrorInvalidHandle);
  const int fd = static_cast<int>(file);
  return read_in_pieces(into, count, [fd](std::uint32_t, char* at, std::size_t piece) {
    return ::read(fd, at, piece);
  });
}

Result PosixOs::read_file_at(Handle file, std::int64_t offset, void* into, std::uint32_t count) {
  if (file_record(file) == nullptr) return failure(kErrorInvalidHandle);
  if (offset < 0) return failure(kErrorInvalidParameter);
  const int fd = static_cast<int>(file);
  return read_in_pieces(into, count, [fd, offset](std::uint32_t done, char* at, std::size_t piece) {
    return ::pread(fd, at, piece, static_cast<off_t>(offset + done));
  });
}

Result PosixOs::write_file(Handle file, const void* from, std::uint32_t count) {
  if (file_record(file) == nullptr) return failure(kErrorInvalidHandle);
  const int fd = static_cast<int>(file);
  const auto* bytes = static_cast<const char*>(from);
  std::uint32_t done = 0;
  while (done < count) {
    const std::size_t piece = std::min<std::size_t>(count - done, kLargestTransfer);
    const ssize_t n = retry_on_eintr([&] { return ::write(fd, bytes + done, piece); });
    if (n < 0) return failure(code_for_errno(errno), done);
    if (n == 0) return failure(kErrorDiskFull, done);  // no progress: nothing more fits
    done += static_cast<std::uint32_t>(n);
  }
  return {done, kErrorSuccess};
}

Result PosixOs::set_file_pointer(Handle file, std::int64_t offset) {
  if (file_record(file) == nullptr) return failure(kErrorInvalidHandle, -1);
  const off_t position = ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET);
  if (position < 0) return failure(code_for_errno(errno), -1);
  return {position, kErrorSuccess};
}

Result PosixOs::set_end_of_file(Handle file) {
  const FileRecord* record = file_record(file);
  if (record == nullptr) return failure(kErrorInvalidHandle);
  if (!record->writable) return failure(kErrorAccessDenied);  // as for a read-only handle
  const int fd = static_cast<int>(file);
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0) return failure(code_for_errno(errno));
  if (retry_on_eintr([&] { return ::ftruncate(fd, position); }) != 0) {
    return failure(code_for_errno(errno));
  }
  return {1, kErrorSuccess};
}

Result PosixOs::file_size(Handle file) {
  const FileRecord* record = file_record(file);
  if (record == nullptr) return failure(kErrorInvalidHandle, -1);
  if (record->size_at_open >= 0) return {record->size_at_open, kErrorSuccess};
  struct stat st;
  if (::fstat(static_cast<int>(file), &st) != 0) return failure(code_for_errno(errno), -1);
  return {static_cast<std::int64_t>(st.st_size), kErrorSuccess};
}

// Only regular files are ever opened (vet_descriptor), and a descriptor's file keeps its
// type: there is nothing to ask the system.
Result PosixOs::file_type(Handle file) {
  if (file_record(file) == nullptr) return failure(kErrorInvalidHandle);
  return {kFileTypeDisk, kErrorSuccess};
}

Result PosixOs::close_handle(Handle file) {
  if (file_record(file) == nullptr) return failure(kErrorInvalidHandle);
  files_[static_cast<std::size_t>(file)].reset();
  // Not retried: on EINTR the descriptor is already gone and its number may be reused.
  if (::close(static_cast<int>(file)) != 0 && errno != EINTR) {
    return failure(code_for_errno(errno));
  }
  return {1, kErrorSuccess};
}

Result PosixOs::map_view(Handle file, std::int64_t offset, std::uint32_t length,
                         const char** view) {
  if (file_record(file) == nullptr) return failure(kErrorInvalidHandle);
  if (offset < 0 || offset % kViewAlignment != 0 || length == 0 || view == nullptr) {
    return failure(kErrorInvalidParameter);
  }
  const int error = posix_views::map(static_cast<int>(file), offset, length, view);
  if (error != 0) return failure(code_for_errno(error));
  return {1, kErrorSuccess};
}

Result PosixOs::unmap_view(const char* view, std::uint32_t length) {
  const int error = posix_views::unmap(view, length);
  if (error != 0) return failure(error == EINVAL ? kErrorInvalidParameter : code_for_errno(error));
  return {1, kErrorSuccess};
}

namespace {

// A file another open holds exclusively cannot be deleted, as on Windows.
bool held_by_another_open(int folder, const std::string& name) {
  const int fd = retry_on_eintr([&] {
    return ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  });
  if (fd < 0) return false;  // unreadable: nobody's lock can be seen, nor matters here
  const bool held =
      retry_on_eintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace

Result PosixOs::delete_file(const std::string& raw_name) {
  folders_.begin_call();
  if (up_to_nul(raw_name).empty()) return failure(kErrorPathNotFound);
  const std::optional<Located> located = locate(raw_name);
  if (!located) return failure(has_wildcards(up_to_nul(raw_name)) ? kErrorInvalidName
                                                                  : kErrorPathNotFound);
  if (!located->folder.valid()) return failure(code_for_walk(located->error));
  const int folder = located->folder.get();
  const std::string leaf = located->leaf();
  struct stat st;
  if (!look_at_entry(*located, st)) return failure(code_for_errno(errno));
  // Judged as the search shows it (links followed): only writable regular files go.
  if (::fstatat(folder, leaf.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode) ||
      is_read_only_file(st)) {
    return failure(kErrorAccessDenied);
  }
  if (held_by_another_open(folder, leaf)) return failure(kErrorSharingViolation);
  if (::unlinkat(folder, leaf.c_str(), 0) != 0) return failure(code_for_errno(errno));
  folders_.note_removed(located->folder_id, leaf);
  return {1, kErrorSuccess};
}

Result PosixOs::full_path(const std::string& raw_name, std::string& full) {
  folders_.begin_call();
  const std::optional<Located> located = locate(raw_name, false);
  if (!located) return failure(kErrorInvalidName);
  full = located->path();
  return {1, kErrorSuccess};
}

Result PosixOs::file_attributes(const std::string& raw_name) {
  folders_.begin_call();
  const std::optional<Located> located = locate(raw_name);
  if (!located) return failure(kErrorInvalidName, -1);
  if (!located->folder.valid()) return failure(code_for_walk(located->error), -1);
  const int folder = located->folder.get();
  const std::string leaf = located->leaf();
  struct stat st;
  if (!look_at_entry(*located, st)) return failure(code_for_errno(errno), -1);
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    const bool to_folder = ::fstatat(folder, leaf.c_str(), &target, 0) == 0 &&
                           S_ISDIR(target.st_mode);
    return {kAttributeReparsePoint | (to_folder ? kAttributeDirectory : 0u), kErrorSuccess};
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return {kAttributeDevice, kErrorSuccess};
  return {posix_lookup::attributes_of(leaf, st), kErrorSuccess};
}

Result PosixOs::replace_file(const std::string& raw_from, const std::string& raw_to) {
  folders_.begin_call();
  const std::optional<Located> from = locate(raw_from, false);
  const std::optional<Located> to = locate(raw_to, false);
  if (!from || !to) return failure(kErrorInvalidName);
  if (!from->folder.valid()) return failure(code_for_walk(from->error));
  if (!to->folder.valid()) return failure(code_for_walk(to->error));
  // rename replaces a link at `to` itself, never what it points to.
  if (::renameat(from->folder.get(), from->leaf().c_str(), to->folder.get(),
                 to->leaf().c_str()) != 0) {
    return failure(errno == EXDEV ? kErrorNotSameDevice : code_for_errno(errno));
  }
  folders_.note_renamed(from->folder_id, from->leaf(), to->folder_id, to->leaf());
  return {1, kErrorSuccess};
}

// Through the descriptors alone: the new file's name is in a folder others may write, and
// whatever it names by now, this changes only the file this Os created.
Result PosixOs::settle_ownership(Handle created, Handle replaced) {
  const FileRecord* record = file_record(created);
  if (record == nullptr || (replaced != kInvalidHandle && file_record(replaced) == nullptr)) {
    return failure(kErrorInvalidHandle);
  }
  const int error =
      replaced == kInvalidHandle
          ? posix_ownership::give_to_folder_owner(static_cast<int>(created), record->folder_owner,
                                                  record->created_as)
          : posix_ownership::take_over(static_cast<int>(created), static_cast<int>(replaced),
                                       record->created_as);
  if (error != 0) return failure(code_for_errno(error));
  return {1, kErrorSuccess};
}

void PosixOs::release_free_memory() {
#ifdef __GLIBC__
  ::malloc_trim(0);
#endif
}

}  // namespace posix_os

std::unique_ptr<Os> make_native_os() {
  return std::make_unique<posix_os::PosixOs>();
}

}  // namespace mapsweep::os
