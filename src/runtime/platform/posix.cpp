// The platform interface on POSIX systems. This file may hold only what it takes to give
// the runtime, on a POSIX kernel, the Windows file-system behaviour it was built around:
// system calls retried on EINTR, errno translated into Windows last-error codes, and the
// emulation of case-insensitive names, NTFS directory order, DOS wildcards, attributes,
// read-only files, exclusive opens and a logical current directory (the terminal dialog has
// a file of its own). It uses the C++ standard library and the POSIX API only, and knows nothing of
// channels, strings or maps.

#include <dirent.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "runtime/platform/name_matching.h"
#include "runtime/platform/os.h"
#include "runtime/platform/posix_calls.h"
#include "runtime/platform/posix_created.h"
#include "runtime/platform/posix_folders.h"
#include "runtime/platform/posix_lookup.h"
#include "runtime/platform/posix_ownership.h"
#include "runtime/platform/posix_views.h"

namespace mapsweep::os {
namespace {

using posix_folders::ExactLook;
using posix_folders::Located;

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

Result failure(std::uint32_t code, std::int64_t value = 0) {
  return {value, code};
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

struct OpenedFile {
  int fd = -1;
  std::uint32_t error = kErrorSuccess;
  struct stat st {};  // the file when it was opened
};

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

// ---------------------------------------------------------------------------------------
// The Os

class PosixOs final : public Os {
 public:
  PosixOs() = default;
  PosixOs(const PosixOs&) = delete;
  PosixOs& operator=(const PosixOs&) = delete;

  Result create_file(const std::string& name, std::uint32_t access, std::uint32_t share_mode,
                     std::uint32_t disposition) override;
  Result read_file(Handle file, void* into, std::uint32_t count) override;
  Result read_file_at(Handle file, std::int64_t offset, void* into, std::uint32_t count) override;
  Result write_file(Handle file, const void* from, std::uint32_t count) override;
  Result set_file_pointer(Handle file, std::int64_t offset) override;
  Result set_end_of_file(Handle file) override;
  Result file_size(Handle file) override;
  Result file_type(Handle file) override;
  Result close_handle(Handle file) override;
  Result map_view(Handle file, std::int64_t offset, std::uint32_t length,
                  const char** view) override;
  Result unmap_view(const char* view, std::uint32_t length) override;
  std::uint64_t view_faults() override { return posix_views::faults(); }
  Result find_first(const std::string& pattern, FindData& first) override;
  Result find_next(Handle search, FindData& next) override;
  Result find_close(Handle search) override;
  Result set_current_directory(const std::string& path) override;
  Result delete_file(const std::string& name) override;
  Result full_path(const std::string& name, std::string& full) override;
  Result file_attributes(const std::string& name) override;
  Result replace_file(const std::string& from, const std::string& to) override;
  Result settle_ownership(Handle created, Handle replaced) override;
  Result lock_folder(const std::string& path) override;
  Result unlock_folder(Handle lock) override;
  Result encloses_current_directory(const std::string& path) override;
  void release_free_memory() override;

 private:
  struct FileRecord {
    bool writable = false;
    std::optional<posix_ownership::Owner> folder_owner;  // of a file this Os created
    // Its length when it was opened, for a file opened only to be read: what a reader
    // reads is bounded by it anyway, and asking again would cost a call per file.
    std::int64_t size_at_open = -1;
    // Of a file this Os created: who it belonged to when it was made, as its owner is
    // changed only by the one who made it.
    std::optional<posix_ownership::Owner> created_as;
  };
  struct Search {
    std::vector<FindData> entries;  // the matches at find_first, in NTFS order
    std::size_t next = 0;
    // Still learning the entries' read-only bits; stopped before the entries go.
    std::unique_ptr<posix_lookup::ReadOnlyBits> read_only_bits;
  };

  // A folder the enclosure check opened, kept for entering it next without a second look
  // at its name, which its owner may have swapped for a link meanwhile.
  struct CheckedFolder {
    std::string name;
    std::uint64_t from = 0;  // the current directory it was checked from
    posix_folders::OpenedFolder opened;
    struct stat looked_at {};
  };

  std::optional<Located> locate(const std::string& raw_name, bool look = true) const;
  std::optional<Result> open_exact(const std::string& name, std::uint32_t access,
                                   std::uint32_t share_mode);
  Result open_resolved(const Located& located, std::uint32_t access, std::uint32_t share_mode,
                       std::uint32_t disposition);
  Result create_new(const Located& located, std::uint32_t access, std::uint32_t share_mode);
  std::optional<CheckedFolder> take_checked_folder(const std::string& name);
  std::uint32_t code_for_unopened_folder(const std::string& name,
                                         const posix_folders::OpenedFolder& opened) const;
  bool is_physical_ancestor(const struct stat& folder);
  void remember_file(int fd, FileRecord record);
  const FileRecord* file_record(Handle file) const;
  Search* search_at(Handle search);
  Handle store_search(Search search);

  // The current directory is logical, as on Windows: components as entered, links kept,
  // so ".." returns to where the link was entered from. It and the folders on the way to
  // it are held open, and names are resolved through them. Empty when the process's own
  // directory could not be named; relative names then find nothing.
  posix_folders::HeldFolders folders_;
  std::optional<CheckedFolder> checked_;
  // The folders that hold the current directory on disk, links resolved: learnt once per
  // current directory, as every game folder's check asks of the same one.
  std::vector<std::pair<dev_t, ino_t>> physical_ancestors_;
  std::uint64_t ancestors_of_ = 0;  // the current directory they were learnt of
  // The files this Os opened, by descriptor: descriptors are small numbers, reused at once.
  std::vector<std::optional<FileRecord>> files_;
  std::set<int> folder_locks_;
  std::vector<std::optional<Search>> searches_;  // search handle h is slot h - 1
};

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

Result PosixOs::find_first(const std::string& raw_pattern, FindData& first) {
  folders_.begin_call();
  const std::string pattern(up_to_nul(raw_pattern));
  const std::size_t last_separator = pattern.find_last_of("/\\");
  const std::size_t name_start = last_separator == pattern.npos ? 0 : last_separator + 1;
  const std::string_view folder_part = std::string_view(pattern).substr(0, name_start);
  const std::string_view name_pattern = std::string_view(pattern).substr(name_start);
  if (has_wildcards(folder_part)) return failure(kErrorInvalidName, kInvalidHandle);
  std::optional<posix_folders::OpenedFolder> folder = folders_.open_folder(folder_part, true);
  if (!folder) return failure(kErrorPathNotFound, kInvalidHandle);
  if (!folder->folder.valid()) return failure(code_for_walk(folder->error), kInvalidHandle);

  Search search;
  std::vector<unsigned char> types;  // each entry's type as the listing gave it
  const auto take = [&](std::string_view name, unsigned char type) {
    if (!search_pattern_matches(name_pattern, name)) return;
    search.entries.push_back(FindData{posix_lookup::kPassedOver, std::string(name)});
    types.push_back(type);
  };
  // A folder the run holds is listed once and its listing kept while its times show no
  // change; any other is listed now.
  int looked_up_in = folder->folder.get();
  std::optional<posix_folders::FolderReader> reader;
  struct stat stamp;
  bool stamped = false;
  if (const posix_folders::Entries* kept =
          folders_.valid_listing(folder->folder_id, stamp, stamped)) {
    for (const auto& [name, type] : *kept) take(name, type);
  } else if (stamped) {
    const int error = folders_.list_afresh(folder->folder_id, &stamp, take);
    if (error != 0) return failure(code_for_errno(error), kInvalidHandle);
  } else {
    reader.emplace(folder->listable ? folder->folder.release_owned()
                                    : posix_folders::open_for_listing(folder->folder.get()));
    if (!reader->is_open()) {
      const bool missing = reader->error() == ENOENT || reader->error() == ENOTDIR;
      return failure(missing ? kErrorPathNotFound : code_for_errno(reader->error()),
                     kInvalidHandle);
    }
    while (const std::optional<posix_folders::ListedEntry> entry = reader->next_entry()) {
      take(entry->name, entry->type);
    }
    // A listing cut short is no answer: the caller would take it for the whole folder.
    if (reader->error() != 0) return failure(code_for_errno(reader->error()), kInvalidHandle);
    looked_up_in = reader->descriptor();
  }
  posix_lookup::look_up_entries(looked_up_in, search.entries, types);
  std::erase_if(search.entries, [](const FindData& entry) {
    return entry.attributes == posix_lookup::kPassedOver;
  });
  if (search.entries.empty()) return failure(kErrorFileNotFound, kInvalidHandle);
  sort_in_ntfs_order(search.entries);
  search.read_only_bits = posix_lookup::learn_read_only_bits(looked_up_in, search.entries);
  if (search.read_only_bits) search.read_only_bits->wait_for(0);
  first = search.entries.front();
  search.next = 1;
  return {store_search(std::move(search)), kErrorSuccess};
}

Handle PosixOs::store_search(Search search) {
  auto free_slot = std::find(searches_.begin(), searches_.end(), std::nullopt);
  if (free_slot == searches_.end()) free_slot = searches_.insert(searches_.end(), std::nullopt);
  *free_slot = std::move(search);
  return static_cast<Handle>(free_slot - searches_.begin()) + 1;
}

PosixOs::Search* PosixOs::search_at(Handle search) {
  if (search < 1 || static_cast<std::size_t>(search) > searches_.size()) return nullptr;
  std::optional<Search>& slot = searches_[static_cast<std::size_t>(search) - 1];
  return slot ? &*slot : nullptr;
}

Result PosixOs::find_next(Handle search, FindData& next) {
  Search* state = search_at(search);
  if (state == nullptr) return failure(kErrorInvalidHandle);
  if (state->next >= state->entries.size()) {
    // Listed to its end: the entries are of no more use, and a large folder's take megabytes
    // that the work after the listing can use.
    state->read_only_bits.reset();
    std::vector<FindData>().swap(state->entries);
    state->next = 0;
    return failure(kErrorNoMoreFiles);
  }
  if (state->read_only_bits) state->read_only_bits->wait_for(state->next);
  next = std::move(state->entries[state->next++]);  // each entry is handed out once
  return {1, kErrorSuccess};
}

Result PosixOs::find_close(Handle search) {
  if (search_at(search) == nullptr) return failure(kErrorInvalidHandle);
  searches_[static_cast<std::size_t>(search) - 1].reset();
  while (!searches_.empty() && !searches_.back()) searches_.pop_back();
  return {1, kErrorSuccess};
}

Result PosixOs::set_current_directory(const std::string& raw_path) {
  folders_.begin_call();
  const std::string name(up_to_nul(raw_path));
  if (name.empty() || has_wildcards(name)) return failure(kErrorInvalidName);
  std::optional<CheckedFolder> checked = take_checked_folder(name);
  std::optional<posix_folders::OpenedFolder> opened;
  if (checked) {
    opened = std::move(checked->opened);
  } else {
    opened = folders_.open_folder(name);
  }
  if (!opened) return failure(kErrorPathNotFound);
  if (!opened->folder.valid()) return failure(code_for_unopened_folder(name, *opened));
  // A folder that cannot be searched could not be the process's directory either. One held
  // was checked when it was entered.
  if (opened->folder_id == 0 && ::faccessat(opened->folder.get(), ".", X_OK, 0) != 0) {
    return failure(code_for_errno(errno));
  }
  const bool readable = opened->listable;
  folders_.enter(std::move(opened->parts), std::move(opened->folder),
                 checked ? &checked->looked_at : nullptr, readable);
  return {1, kErrorSuccess};
}

// The folder the enclosure check opened for this very name, from this very directory.
std::optional<PosixOs::CheckedFolder> PosixOs::take_checked_folder(const std::string& name) {
  std::optional<CheckedFolder> checked = std::exchange(checked_, std::nullopt);
  if (!checked || !folders_.has_current() || checked->name != name ||
      checked->from != folders_.current_id()) {
    return std::nullopt;
  }
  return checked;
}

// Windows tells a missing folder (2) from a missing folder on its way (3), and an entry
// that is no folder (267).
std::uint32_t PosixOs::code_for_unopened_folder(const std::string& name,
                                                const posix_folders::OpenedFolder& opened) const {
  if (!opened.failed_at_last) return code_for_walk(opened.error);
  if (opened.error == ENOENT) return kErrorFileNotFound;
  if (opened.error != ENOTDIR) return code_for_errno(opened.error);
  const std::optional<Located> located = folders_.locate(name);
  struct stat st;
  const bool exists = located && located->folder.valid() &&
                      ::fstatat(located->folder.get(), located->leaf().c_str(), &st, 0) == 0;
  return exists ? kErrorDirectory : kErrorPathNotFound;
}

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

// flock on the folder itself: the kernel drops it with the last descriptor, so a run that
// is killed leaves nothing behind to clear.
Result PosixOs::lock_folder(const std::string& raw_path) {
  folders_.begin_call();
  const std::string name(up_to_nul(raw_path));
  if (name.empty() || has_wildcards(name)) return failure(kErrorInvalidName, kInvalidHandle);
  const std::optional<posix_folders::OpenedFolder> opened = folders_.open_folder(name);
  if (!opened) return failure(kErrorInvalidName, kInvalidHandle);
  if (!opened->folder.valid()) {
    return failure(code_for_unopened_folder(name, *opened), kInvalidHandle);
  }
  const int fd = posix_folders::open_for_listing(opened->folder.get());
  if (fd < 0) return failure(code_for_errno(errno), kInvalidHandle);
  const std::uint32_t code = lock_for_share_mode(fd, 0);  // held as an exclusive open is
  if (code != kErrorSuccess) {
    ::close(fd);
    return failure(code, kInvalidHandle);
  }
  folder_locks_.insert(fd);
  return {fd, kErrorSuccess};
}

Result PosixOs::unlock_folder(Handle lock) {
  if (lock < 0 || lock > INT_MAX || folder_locks_.erase(static_cast<int>(lock)) == 0) {
    return failure(kErrorInvalidHandle);
  }
  ::close(static_cast<int>(lock));
  return {1, kErrorSuccess};
}

// Compared as the file system stores them (links resolved), so that neither a link nor a
// logical ".." can hide that a folder lies above the current one. The folder is opened for
// the check, and entering it next (the caller's usual step) takes this very descriptor:
// had its name been looked up again, its owner could swap it for a link to "/" between the
// check and the entry.
Result PosixOs::encloses_current_directory(const std::string& raw_path) {
  folders_.begin_call();
  checked_.reset();
  const std::string name(up_to_nul(raw_path));
  if (name.empty() || has_wildcards(name) || !folders_.has_current()) return {0, kErrorSuccess};
  std::optional<posix_folders::OpenedFolder> opened = folders_.open_folder(name);
  struct stat folder;
  if (!opened || !opened->folder.valid() || ::fstat(opened->folder.get(), &folder) != 0) {
    return {0, kErrorSuccess};
  }
  const bool encloses = is_physical_ancestor(folder);
  if (!encloses) checked_ = CheckedFolder{name, folders_.current_id(), std::move(*opened), folder};
  return {encloses ? 1 : 0, kErrorSuccess};
}

// Whether the folder is the current directory or holds it, on disk: learnt by going up
// from the current directory's descriptor to the root, once per current directory.
bool PosixOs::is_physical_ancestor(const struct stat& folder) {
  if (ancestors_of_ != folders_.current_id()) {
    physical_ancestors_.clear();
    ancestors_of_ = folders_.current_id();
    posix_folders::Descriptor at(folders_.current_descriptor(), false);
    struct stat st;
    while (at.valid() && ::fstat(at.get(), &st) == 0) {
      const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
      if (!physical_ancestors_.empty() && physical_ancestors_.back() == id) break;  // the root
      physical_ancestors_.push_back(id);
      at = posix_folders::Descriptor(posix_folders::open_folder_at(at.get(), ".."), true);
    }
  }
  const std::pair<dev_t, ino_t> id{folder.st_dev, folder.st_ino};
  return std::find(physical_ancestors_.begin(), physical_ancestors_.end(), id) !=
         physical_ancestors_.end();
}

void PosixOs::release_free_memory() {
#ifdef __GLIBC__
  ::malloc_trim(0);
#endif
}

}  // namespace

std::unique_ptr<Os> make_native_os() {
  return std::make_unique<PosixOs>();
}

}  // namespace mapsweep::os
