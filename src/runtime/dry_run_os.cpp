#include "runtime/dry_run_os.h"

#include <algorithm>
#include <cstring>

#include "runtime/platform/name_matching.h"

namespace mapsweep {
namespace {

os::Result failure(std::uint32_t code, std::int64_t value = 0) {
  return {value, code};
}

bool writes(std::uint32_t access) {
  return (access & os::kGenericWrite) != 0;
}

// What either system refuses to write or delete, judged by the attributes: a folder, a
// device and a read-only file. Links are not written through by either, whatever they lead
// to; a link is deleted as its target is judged (a folder's attribute tells one to a folder).
constexpr std::uint32_t kNeverWritten = os::kAttributeDirectory | os::kAttributeDevice |
                                        os::kAttributeReadOnly | os::kAttributeReparsePoint;
constexpr std::uint32_t kNeverDeleted =
    os::kAttributeDirectory | os::kAttributeDevice | os::kAttributeReadOnly;

// Copies up to count bytes of a file kept in memory, from offset on; how many it copied.
std::uint32_t copy_out(const std::string& bytes, std::uint64_t offset, void* into,
                       std::uint32_t count) {
  const std::uint64_t start = std::min<std::uint64_t>(offset, bytes.size());
  const auto moved =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(count, bytes.size() - start));
  if (moved != 0) std::memcpy(into, bytes.data() + start, moved);
  return moved;
}

std::string folder_of(const std::string& pattern) {
  const std::size_t last = pattern.find_last_of("/\\:");
  return last == std::string::npos ? std::string() : pattern.substr(0, last + 1);
}

}  // namespace

std::string DryRunOs::key_of(const std::string& name, std::string* full) {
  std::string path;
  if (real_.full_path(name, path).value == 0) return {};
  std::string key = path;
  for (char& c : key) c = static_cast<char>(os::ascii_upper(c));
  std::replace(key.begin(), key.end(), '\\', '/');
  if (full != nullptr) *full = std::move(path);
  return key;
}

os::Handle DryRunOs::open_memory(const std::string& key, bool writable, std::uint32_t share_mode) {
  const os::Handle handle = next_handle_--;
  open_[handle] = OpenFile{key, 0, writable, share_mode};
  return handle;
}

DryRunOs::OpenFile* DryRunOs::memory_handle(os::Handle file) {
  const auto it = open_.find(file);
  return it == open_.end() ? nullptr : &it->second;
}

bool DryRunOs::memory_held(const std::string& key, std::uint32_t share_mode) const {
  return std::any_of(open_.begin(), open_.end(), [&](const auto& handle) {
    const OpenFile& open = handle.second;
    return open.key == key && (share_mode == 0 || open.share_mode == 0);
  });
}

// Whatever is asked of the real system here only reads: a file that is there is opened for
// reading, and every name is first looked at, so that the dry run fails wherever a real
// run would, and for the same reason.
os::Result DryRunOs::create_file(const std::string& name, std::uint32_t access,
                                 std::uint32_t share_mode, std::uint32_t disposition) {
  std::string full;
  const std::string key = key_of(name, &full);
  if (key.empty()) return failure(os::kErrorPathNotFound, os::kInvalidHandle);
  if (files_.count(key) != 0) return reopen_memory(key, access, share_mode, disposition);
  const bool is_hidden = hidden(key);
  if (!is_hidden && !writes(access) && disposition == os::kOpenExisting) {
    return real_.create_file(name, access, share_mode, disposition);
  }
  const os::Result entry =
      is_hidden ? failure(os::kErrorFileNotFound, -1) : real_.file_attributes(full);
  if (entry.value == -1) {
    return create_memory(key, full, access, share_mode, disposition, entry);
  }
  return open_real(name, access, share_mode, disposition, static_cast<std::uint32_t>(entry.value));
}

os::Result DryRunOs::reopen_memory(const std::string& key, std::uint32_t access,
                                   std::uint32_t share_mode, std::uint32_t disposition) {
  if (disposition == os::kCreateNew) return failure(os::kErrorFileExists, os::kInvalidHandle);
  if (memory_held(key, share_mode)) return failure(os::kErrorSharingViolation, os::kInvalidHandle);
  const bool reopened = disposition == os::kOpenAlways;
  return {open_memory(key, writes(access), share_mode),
          reopened ? os::kErrorAlreadyExists : os::kErrorSuccess};
}

os::Result DryRunOs::create_memory(const std::string& key, const std::string& full,
                                   std::uint32_t access, std::uint32_t share_mode,
                                   std::uint32_t disposition, const os::Result& entry) {
  // Only a missing file is created: a folder missing on the way (3) or a name the system
  // cannot look at refuses the real create as well.
  if (entry.last_error != os::kErrorFileNotFound) {
    return failure(entry.last_error, os::kInvalidHandle);
  }
  if (disposition == os::kOpenExisting) return failure(os::kErrorFileNotFound, os::kInvalidHandle);
  files_[key] = MemoryFile{full, {}, false, 0};
  return {open_memory(key, writes(access), share_mode), os::kErrorSuccess};
}

os::Result DryRunOs::open_real(const std::string& name, std::uint32_t access,
                               std::uint32_t share_mode, std::uint32_t disposition,
                               std::uint32_t attributes) {
  if (disposition == os::kCreateNew) return failure(os::kErrorFileExists, os::kInvalidHandle);
  if (writes(access) && (attributes & kNeverWritten) != 0) {
    return failure(os::kErrorAccessDenied, os::kInvalidHandle);
  }
  // Read with the share mode asked for, the open is refused where another open of this
  // process or another program would refuse the real one; and nothing can be written.
  const os::Result opened =
      real_.create_file(name, os::kGenericRead, share_mode, os::kOpenExisting);
  if (opened.value == os::kInvalidHandle || disposition != os::kOpenAlways) return opened;
  return {opened.value, os::kErrorAlreadyExists};
}

os::Result DryRunOs::read_file(os::Handle file, void* into, std::uint32_t count) {
  OpenFile* open = memory_handle(file);
  if (open == nullptr) return real_.read_file(file, into, count);
  const std::string& bytes = files_[open->key].bytes;
  const std::uint32_t moved = copy_out(bytes, open->position, into, count);
  open->position = std::min<std::uint64_t>(open->position, bytes.size()) + moved;
  return {moved, os::kErrorSuccess};
}

os::Result DryRunOs::read_file_at(os::Handle file, std::int64_t offset, void* into,
                                  std::uint32_t count) {
  OpenFile* open = memory_handle(file);
  if (open == nullptr) return real_.read_file_at(file, offset, into, count);
  const std::uint32_t moved =
      copy_out(files_[open->key].bytes, static_cast<std::uint64_t>(offset), into, count);
  return {moved, os::kErrorSuccess};
}

os::Result DryRunOs::write_file(os::Handle file, const void* from, std::uint32_t count) {
  OpenFile* open = memory_handle(file);
  if (open == nullptr || !open->writable) return failure(os::kErrorAccessDenied);
  std::string& bytes = files_[open->key].bytes;
  if (bytes.size() < open->position + count) bytes.resize(open->position + count, '\0');
  std::memcpy(bytes.data() + open->position, from, count);
  open->position += count;
  return {count, os::kErrorSuccess};
}

os::Result DryRunOs::set_file_pointer(os::Handle file, std::int64_t offset) {
  OpenFile* open = memory_handle(file);
  if (open == nullptr) return real_.set_file_pointer(file, offset);
  if (offset < 0) return failure(os::kErrorInvalidParameter, -1);
  open->position = static_cast<std::uint64_t>(offset);
  return {offset, os::kErrorSuccess};
}

os::Result DryRunOs::set_end_of_file(os::Handle file) {
  OpenFile* open = memory_handle(file);
  if (open == nullptr || !open->writable) return failure(os::kErrorAccessDenied);
  files_[open->key].bytes.resize(open->position, '\0');
  return {1, os::kErrorSuccess};
}

os::Result DryRunOs::file_size(os::Handle file) {
  OpenFile* open = memory_handle(file);
  if (open == nullptr) return real_.file_size(file);
  return {static_cast<std::int64_t>(files_[open->key].bytes.size()), os::kErrorSuccess};
}

os::Result DryRunOs::map_view(os::Handle file, std::int64_t offset, std::uint32_t length,
                              const char** view) {
  if (memory_handle(file) == nullptr) return real_.map_view(file, offset, length, view);
  return {0, os::kErrorNotSupported};
}

os::Result DryRunOs::file_type(os::Handle file) {
  if (memory_handle(file) == nullptr) return real_.file_type(file);
  return {os::kFileTypeDisk, os::kErrorSuccess};
}

os::Result DryRunOs::close_handle(os::Handle file) {
  if (open_.erase(file) != 0) return {1, os::kErrorSuccess};
  return real_.close_handle(file);
}

bool DryRunOs::hides_entry(os::Handle search, const os::FindData& entry) {
  if (deleted_.empty()) return false;
  return hidden(key_of(search_folders_[search] + entry.name));
}

os::Result DryRunOs::find_first(const std::string& pattern, os::FindData& first) {
  const os::Result found = real_.find_first(pattern, first);
  if (found.value == os::kInvalidHandle) return found;
  search_folders_[found.value] = folder_of(pattern);
  if (!hides_entry(found.value, first)) return found;
  const os::Result next = find_next(found.value, first);
  if (next.value != 0) return found;
  // Every entry it found is one a real run would have deleted by now.
  find_close(found.value);
  return failure(os::kErrorFileNotFound, os::kInvalidHandle);
}

os::Result DryRunOs::find_next(os::Handle search, os::FindData& next) {
  for (;;) {
    const os::Result found = real_.find_next(search, next);
    if (found.value == 0 || !hides_entry(search, next)) return found;
  }
}

os::Result DryRunOs::find_close(os::Handle search) {
  search_folders_.erase(search);
  return real_.find_close(search);
}

os::Result DryRunOs::set_current_directory(const std::string& path) {
  return real_.set_current_directory(path);
}

os::Result DryRunOs::delete_file(const std::string& name) {
  std::string full;
  const std::string key = key_of(name, &full);
  if (key.empty()) return failure(os::kErrorPathNotFound);
  if (files_.count(key) != 0) return delete_memory(key, full);
  if (hidden(key)) return failure(os::kErrorFileNotFound);
  const os::Result entry = real_.file_attributes(full);
  if (entry.value == -1) return failure(entry.last_error);
  if ((static_cast<std::uint32_t>(entry.value) & kNeverDeleted) != 0) {
    return failure(os::kErrorAccessDenied);
  }
  if (real_file_held(full)) return failure(os::kErrorSharingViolation);
  deleted_[key] = full;
  return {1, os::kErrorSuccess};
}

// An exclusive open for reading is refused by any other open of the file, as deleting it
// is; any other refusal (an unreadable file, say) does not keep a file from being deleted.
bool DryRunOs::real_file_held(const std::string& full) {
  const os::Result probe = real_.create_file(full, os::kGenericRead, 0, os::kOpenExisting);
  if (probe.value == os::kInvalidHandle) return probe.last_error == os::kErrorSharingViolation;
  real_.close_handle(probe.value);
  return false;
}

os::Result DryRunOs::delete_memory(const std::string& key, const std::string& full) {
  if (memory_held(key, 0)) return failure(os::kErrorSharingViolation);
  files_.erase(key);
  // A file kept in memory that has taken a real one's place takes that one along: a real
  // run would have replaced it, then deleted what replaced it.
  if (!hidden(key) && real_.file_attributes(full).value != -1) deleted_[key] = full;
  return {1, os::kErrorSuccess};
}

os::Result DryRunOs::full_path(const std::string& name, std::string& full) {
  return real_.full_path(name, full);
}

os::Result DryRunOs::file_attributes(const std::string& name) {
  std::string full;
  const std::string key = key_of(name, &full);
  if (files_.count(key) != 0) return {os::kAttributeArchive, os::kErrorSuccess};
  if (!key.empty() && hidden(key)) return failure(os::kErrorFileNotFound, -1);
  return real_.file_attributes(name);
}

os::Result DryRunOs::replace_file(const std::string& from, const std::string& to) {
  const std::string from_key = key_of(from);
  std::string to_full;
  const std::string to_key = key_of(to, &to_full);
  const auto source = files_.find(from_key);
  if (source == files_.end() || to_key.empty()) return failure(os::kErrorFileNotFound);
  MemoryFile replaced = std::move(source->second);
  files_.erase(source);
  const auto earlier = files_.find(to_key);
  replaced.path = to_full;
  replaced.put_in_place = true;
  replaced.order = earlier != files_.end() && earlier->second.put_in_place ? earlier->second.order
                                                                           : next_order_++;
  files_[to_key] = std::move(replaced);
  deleted_.erase(to_key);
  return {1, os::kErrorSuccess};
}

os::Result DryRunOs::lock_folder(const std::string& path) {
  return real_.lock_folder(path);
}

os::Result DryRunOs::unlock_folder(os::Handle lock) {
  return real_.unlock_folder(lock);
}

os::Result DryRunOs::encloses_current_directory(const std::string& path) {
  return real_.encloses_current_directory(path);
}

std::vector<DryRunOs::WrittenFile> DryRunOs::written_files() const {
  std::vector<const MemoryFile*> placed;
  for (const auto& [key, file] : files_) {
    if (file.put_in_place) placed.push_back(&file);
  }
  std::sort(placed.begin(), placed.end(),
            [](const MemoryFile* a, const MemoryFile* b) { return a->order < b->order; });
  std::vector<WrittenFile> written;
  for (const MemoryFile* file : placed) written.push_back({file->path, file->bytes});
  return written;
}

std::vector<std::string> DryRunOs::deleted_files() const {
  std::vector<std::string> deleted;
  for (const auto& [key, path] : deleted_) deleted.push_back(path);
  return deleted;
}

}  // namespace mapsweep
