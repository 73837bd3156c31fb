#include "support/faulty_os.h"

#include <algorithm>

namespace mapsweep::testing {

void FaultyOs::add(const Fault& fault) {
  faults_.push_back({fault, 0});
}

void FaultyOs::fail(OsCall call, int nth, std::uint32_t code, Repeat repeat) {
  add({call, nth, code, repeat, std::nullopt, std::nullopt, {}});
}

void FaultyOs::come_short(OsCall call, int nth, std::uint32_t moved, std::uint32_t code) {
  add({call, nth, code, Repeat::kOnce, moved, std::nullopt, {}});
}

void FaultyOs::answer(OsCall call, int nth, std::int64_t value, std::uint32_t code) {
  add({call, nth, code, Repeat::kOnce, std::nullopt, value, {}});
}

void FaultyOs::fail_named(OsCall call, const std::string& name_part, std::uint32_t code,
                          Repeat repeat) {
  add({call, 1, code, repeat, std::nullopt, std::nullopt, name_part});
}

int FaultyOs::count(OsCall call) const {
  return static_cast<int>(std::count(log_.begin(), log_.end(), call));
}

const Fault* FaultyOs::hit(OsCall call, const std::string* name) {
  log_.push_back(call);
  if (name != nullptr && hook_) hook_(call, *name);
  const Fault* chosen = nullptr;
  // Every fault of this kind counts the call, also when an earlier one already hit it.
  for (Armed& armed : faults_) {
    if (armed.fault.call != call && armed.fault.call != OsCall::kAny) continue;
    if (!armed.fault.name_part.empty() &&
        (name == nullptr || name->find(armed.fault.name_part) == std::string::npos)) {
      continue;
    }
    ++armed.seen;
    const bool due = armed.fault.repeat == Repeat::kOnce ? armed.seen == armed.fault.nth
                                                         : armed.seen >= armed.fault.nth;
    if (due && chosen == nullptr) chosen = &armed.fault;
  }
  return chosen;
}

template <class Forward>
os::Result FaultyOs::guarded(OsCall call, std::int64_t failed, Forward&& forward,
                             const std::string* name) {
  const Fault* fault = hit(call, name);
  if (fault == nullptr) {
    const os::Result result = forward();
    if (name != nullptr && after_hook_) after_hook_(call, *name, result);
    return result;
  }
  return {fault->value.value_or(failed), fault->code};
}

template <class Transfer>
os::Result FaultyOs::transfer(OsCall call, std::uint32_t count, Transfer&& move_bytes) {
  const Fault* fault = hit(call, nullptr);
  if (fault == nullptr) return move_bytes(count);
  if (!fault->moved) return {fault->value.value_or(0), fault->code};
  os::Result moved = move_bytes(std::min(count, *fault->moved));
  moved.last_error = fault->code;
  return moved;
}

os::Result FaultyOs::create_file(const std::string& name, std::uint32_t access,
                                 std::uint32_t share_mode, std::uint32_t disposition) {
  return guarded(
      OsCall::kCreateFile, os::kInvalidHandle,
      [&] { return inner_.create_file(name, access, share_mode, disposition); }, &name);
}

os::Result FaultyOs::read_file(os::Handle file, void* into, std::uint32_t count) {
  return transfer(OsCall::kReadFile, count,
                  [&](std::uint32_t n) { return inner_.read_file(file, into, n); });
}

os::Result FaultyOs::read_file_at(os::Handle file, std::int64_t offset, void* into,
                                  std::uint32_t count) {
  return transfer(OsCall::kReadFileAt, count,
                  [&](std::uint32_t n) { return inner_.read_file_at(file, offset, into, n); });
}

os::Result FaultyOs::write_file(os::Handle file, const void* from, std::uint32_t count) {
  return transfer(OsCall::kWriteFile, count,
                  [&](std::uint32_t n) { return inner_.write_file(file, from, n); });
}

os::Result FaultyOs::set_file_pointer(os::Handle file, std::int64_t offset) {
  return guarded(OsCall::kSetFilePointer, -1,
                 [&] { return inner_.set_file_pointer(file, offset); });
}

os::Result FaultyOs::set_end_of_file(os::Handle file) {
  return guarded(OsCall::kSetEndOfFile, 0, [&] { return inner_.set_end_of_file(file); });
}

os::Result FaultyOs::file_size(os::Handle file) {
  return guarded(OsCall::kFileSize, -1, [&] { return inner_.file_size(file); });
}

os::Result FaultyOs::file_type(os::Handle file) {
  return guarded(OsCall::kFileType, 0, [&] { return inner_.file_type(file); });
}

// A failed close still closes, so tests leave no open handle or lock behind.
os::Result FaultyOs::close_handle(os::Handle file) {
  const os::Result closed = inner_.close_handle(file);
  return guarded(OsCall::kCloseHandle, 0, [&] { return closed; });
}

os::Result FaultyOs::map_view(os::Handle file, std::int64_t offset, std::uint32_t length,
                              const char** view) {
  return guarded(OsCall::kMapView, 0, [&] { return inner_.map_view(file, offset, length, view); });
}

os::Result FaultyOs::unmap_view(const char* view, std::uint32_t length) {
  const os::Result unmapped = inner_.unmap_view(view, length);
  return guarded(OsCall::kUnmapView, 0, [&] { return unmapped; });
}

os::Result FaultyOs::find_first(const std::string& pattern, os::FindData& first) {
  return guarded(
      OsCall::kFindFirst, os::kInvalidHandle, [&] { return inner_.find_first(pattern, first); },
      &pattern);
}

os::Result FaultyOs::find_next(os::Handle search, os::FindData& next) {
  return guarded(OsCall::kFindNext, 0, [&] { return inner_.find_next(search, next); });
}

os::Result FaultyOs::find_close(os::Handle search) {
  const os::Result closed = inner_.find_close(search);
  return guarded(OsCall::kFindClose, 0, [&] { return closed; });
}

os::Result FaultyOs::set_current_directory(const std::string& path) {
  return guarded(
      OsCall::kSetCurrentDirectory, 0, [&] { return inner_.set_current_directory(path); }, &path);
}

os::Result FaultyOs::delete_file(const std::string& name) {
  return guarded(
      OsCall::kDeleteFile, 0, [&] { return inner_.delete_file(name); }, &name);
}

os::Result FaultyOs::create_directory(const std::string& name) {
  return guarded(
      OsCall::kCreateDirectory, 0, [&] { return inner_.create_directory(name); }, &name);
}

os::Result FaultyOs::remove_directory(const std::string& name) {
  return guarded(
      OsCall::kRemoveDirectory, 0, [&] { return inner_.remove_directory(name); }, &name);
}

os::Result FaultyOs::move_entry(const std::string& from, const std::string& to) {
  return guarded(
      OsCall::kMoveEntry, 0, [&] { return inner_.move_entry(from, to); }, &to);
}

os::Result FaultyOs::full_path(const std::string& name, std::string& full) {
  return guarded(
      OsCall::kFullPath, 0, [&] { return inner_.full_path(name, full); }, &name);
}

os::Result FaultyOs::file_attributes(const std::string& name) {
  return guarded(
      OsCall::kFileAttributes, -1, [&] { return inner_.file_attributes(name); }, &name);
}

os::Result FaultyOs::replace_file(const std::string& from, const std::string& to) {
  return guarded(
      OsCall::kReplaceFile, 0, [&] { return inner_.replace_file(from, to); }, &to);
}

os::Result FaultyOs::settle_ownership(os::Handle created, os::Handle replaced) {
  return guarded(OsCall::kSettleOwnership, 0,
                 [&] { return inner_.settle_ownership(created, replaced); });
}

os::Result FaultyOs::lock_folder(const std::string& path) {
  return guarded(
      OsCall::kLockFolder, os::kInvalidHandle, [&] { return inner_.lock_folder(path); }, &path);
}

os::Result FaultyOs::unlock_folder(os::Handle lock) {
  const os::Result unlocked = inner_.unlock_folder(lock);
  return guarded(OsCall::kUnlockFolder, 0, [&] { return unlocked; });
}

os::Result FaultyOs::encloses_current_directory(const std::string& path) {
  return guarded(
      OsCall::kEnclosesCurrentDirectory, 0, [&] { return inner_.encloses_current_directory(path); },
      &path);
}

}  // namespace mapsweep::testing
