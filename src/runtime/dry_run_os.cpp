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

os::Handle DryRunOs::open_memory(const std::string& key, bool writable) {
  const os::Handle handle = next_handle_--;
  open_[handle] = OpenFile{key, 0, writable};
  return handle;
}

DryRunOs::OpenFile* DryRunOs::memory_handle(os::Handle file) {
  const auto it = open_.find(file);
  return it == open_.end() ? nullptr : &it->second;
}

os::Result DryRunOs::create_file(const std::string& name, std::uint32_t access,
                                 std::uint32_t share_mode, std::uint32_t disposition) {
  std::string full;
  const std::string key = key_of(name, &full);
  if (key.empty()) return failure(os::kErrorPathNotFound, os::kInvalidHandle);
  if (files_.count(key) != 0) {
    if (disposition == os::kCreateNew) return failure(os::kErrorFileExists, os::kInvalidHandle);
    const bool reopened = disposition == os::kOpenAlways;
    return {open_memory(key, writes(access)), reopened ? os::kErrorAlreadyExists : 0u};
  }
  const bool on_disk = !hidden(key) && real_.file_attributes(full).value != -1;
  if (!writes(access) && on_disk) return real_.create_file(name, access, share_mode, disposition);
  if (on_disk && disposition == os::kCreateNew) {
    return failure(os::kErrorFileExists, os::kInvalidHandle);
  }
  if (on_disk) {
    // A file that is there is opened for reading only, which tells whether another program
    // holds it, and is never written.
    return real_.create_file(name, os::kGenericRead, os::kShareRead, os::kOpenExisting);
  }
  if (disposition == os::kOpenExisting) return failure(os::kErrorFileNotFound, os::kInvalidHandle);
  files_[key] = MemoryFile{full, {}, false, 0};
  return {open_memory(key, writes(access)), os::kErrorSuccess};
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
  if (files_.erase(key) != 0) return {1, os::kErrorSuccess};
  if (hidden(key) || real_.file_attributes(full).value == -1) {
    return failure(os::kErrorFileNotFound);
  }
  deleted_[key] = full;
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
