// The POSIX Os, shared by its two files: posix.cpp (files: opening, reading, writing,
// attributes, deletion, replacement) and posix_directories.cpp (searches, the current
// directory, folder locks and the enclosure check), with the few rules of both: errno
// translated into Windows last-error codes, and files opened only as what they were judged.
// Internal to the platform layer: the runtime sees only os.h.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/platform/os.h"
#include "runtime/platform/posix_folders.h"
#include "runtime/platform/posix_lookup.h"
#include "runtime/platform/posix_ownership.h"
#include "runtime/platform/posix_views.h"

namespace mapsweep::os::posix_os {

using posix_folders::ExactLook;
using posix_folders::Located;

// errno to the Windows last-error code the runtime's translation expects (posix_files.cpp
// has the table).
std::uint32_t code_for_errno(int error);
// The entry itself, a link not followed: what the look that resolved the name found, where
// it took one (the entry, or that no entry has the name in any case), else a look now.
// False with errno set when there is no such entry.
bool look_at_entry(const Located& located, struct stat& st);
// A folder on the way to a name could not be opened: missing or no folder, Windows says the
// path is not found.
std::uint32_t code_for_walk(int error);
inline Result failure(std::uint32_t code, std::int64_t value = 0) {
  return {value, code};
}
bool has_wildcards(std::string_view name);
// "*.*" means every name on Windows, dot or not; any other pattern matches plainly.
bool search_pattern_matches(std::string_view pattern, std::string_view name);
bool is_read_only_file(const struct stat& st);
int open_flags_for(std::uint32_t access);
// Stands in for the share mode: share mode 0 excludes every other open of the file, here
// or in another process; any other share mode still yields to an exclusive holder.
std::uint32_t lock_for_share_mode(int fd, std::uint32_t share_mode);

struct OpenedFile {
  int fd = -1;
  std::uint32_t error = kErrorSuccess;
  struct stat st {};  // the file when it was opened
};

// Opens `path` in the folder open as at_fd with `flags` (nonblocking, close-on-exec, no
// controlling terminal added) and keeps it only if the descriptor itself passes: a regular
// file, writable when asked to be, and not held by anyone else. A file it created and then
// refused is removed again while the name still leads to it.
OpenedFile open_vetted(int at_fd, const std::string& path, int flags, std::uint32_t access,
                       std::uint32_t share_mode);

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
  Result create_directory(const std::string& name) override;
  Result remove_directory(const std::string& name) override;
  Result move_entry(const std::string& from, const std::string& to) override;
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
  // The user whose leave counts, taken once: asking again would cost a call per folder.
  const uid_t user_ = ::getuid();
};

}  // namespace mapsweep::os::posix_os
