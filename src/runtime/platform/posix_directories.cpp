// The POSIX Os's folders: searches answered from listings in NTFS order, the logical
// current directory held open, folder locks and the check that a folder does not hold the
// current directory. Files are posix.cpp's.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/platform/name_matching.h"
#include "runtime/platform/os.h"
#include "runtime/platform/posix_os.h"

namespace mapsweep::os::posix_os {

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

namespace {

// Whether `user`, the run's, may search the folder (the one `st` is a look at), errno telling
// why not. For the folder's owner the kernel decides on the owner's bits alone, and grants
// what they grant without asking access lists or privileges: a folder the user owns and may
// search needs no call to learn it (a security module refusing it all the same would show
// in the opens there, each failing with its own report). Any other is put to the kernel.
bool may_search(int folder, const struct stat& st, uid_t user) {
  if (st.st_uid == user && (st.st_mode & S_IXUSR) != 0) return true;
  return ::faccessat(folder, ".", X_OK, 0) == 0;
}

}  // namespace

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
  // was checked when it was entered. The look taken here serves the folder's first listing
  // too, which would otherwise take one of its own.
  struct stat looked_at {};
  if (checked) {
    looked_at = checked->looked_at;
  } else if (opened->folder_id == 0 && ::fstat(opened->folder.get(), &looked_at) != 0) {
    return failure(code_for_errno(errno));
  }
  if (opened->folder_id == 0 && !may_search(opened->folder.get(), looked_at, user_)) {
    return failure(code_for_errno(errno));
  }
  const bool readable = opened->listable;
  folders_.enter(std::move(opened->parts), std::move(opened->folder),
                 opened->folder_id == 0 ? &looked_at : nullptr, readable);
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

}  // namespace mapsweep::os::posix_os
