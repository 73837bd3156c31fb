// An os::Os for tests that forwards every call to another one and fails chosen calls, so
// that each failure path can be driven deterministically:
//
//   FaultyOs faulty(*native);
//   faulty.fail(OsCall::kWriteFile, 2, os::kErrorHandleDiskFull);   // 2nd write from now
//   faulty.fail(OsCall::kReadFile, 1, os::kErrorCrc, Repeat::kFromThenOn);
//   faulty.come_short(OsCall::kWriteFile, 1, 3);   // next write moves 3 bytes, code 0
//   faulty.answer(OsCall::kFileType, 1, os::kFileTypeChar);   // next handle looks a device
//
// A failed call is not forwarded and returns the failure value of its kind (kInvalidHandle
// for create_file, find_first and lock_folder, 0 bytes for read/write, -1 for
// set_file_pointer and file_attributes, 0 otherwise) with the given last-error code;
// close_handle, unmap_view, find_close and unlock_folder are forwarded first, so a failed
// close still frees the resource. A fault of kind kAny counts calls of every kind. Calls are
// counted per kind from the moment a fault is added; the first matching fault wins. log() lists
// every call made.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/platform/os.h"

namespace mapsweep::testing {

enum class OsCall {
  kCreateFile,
  kReadFile,
  kReadFileAt,
  kWriteFile,
  kSetFilePointer,
  kSetEndOfFile,
  kFileType,
  kFileSize,
  kCloseHandle,
  kFindFirst,
  kFindNext,
  kFindClose,
  kSetCurrentDirectory,
  kDeleteFile,
  kFullPath,
  kFileAttributes,
  kReplaceFile,
  kSettleOwnership,
  kLockFolder,
  kUnlockFolder,
  kEnclosesCurrentDirectory,
  kMapView,
  kUnmapView,
  kCreateDirectory,
  kRemoveDirectory,
  kMoveEntry,
  kAny,  // a fault of this kind counts, and may fail, calls of every kind
};

enum class Repeat { kOnce, kFromThenOn };

struct Fault {
  OsCall call;
  int nth = 1;             // the N-th call of this kind after the fault was added
  std::uint32_t code = 0;  // the last-error code reported
  Repeat repeat = Repeat::kOnce;
  // read_file/write_file: forward with at most this many bytes instead of failing.
  std::optional<std::uint32_t> moved;
  // Report this value instead of the kind's failure value (the call is not forwarded).
  std::optional<std::int64_t> value;
  // When set, only calls whose name or pattern holds these bytes count for this fault.
  std::string name_part;
};

class FaultyOs final : public os::Os {
 public:
  explicit FaultyOs(os::Os& inner) : inner_(inner) {}

  void add(const Fault& fault);
  void fail(OsCall call, int nth, std::uint32_t code, Repeat repeat = Repeat::kOnce);
  // A read or write that moves at most `moved` bytes and reports `code`.
  void come_short(OsCall call, int nth, std::uint32_t moved, std::uint32_t code = 0);
  // A call answered with `value` and `code` without reaching the inner OS.
  void answer(OsCall call, int nth, std::int64_t value, std::uint32_t code = 0);
  // The next call of this kind whose name or pattern holds `name_part` fails with `code`.
  void fail_named(OsCall call, const std::string& name_part, std::uint32_t code,
                  Repeat repeat = Repeat::kOnce);
  // Runs before every call that names a file or folder, with that name, so that a test can
  // change the tree at the moment the program looks at it.
  void before_named_calls(std::function<void(OsCall, const std::string&)> hook) {
    hook_ = std::move(hook);
  }
  // Runs after every call that names a file or folder and reached the inner OS, with that
  // name and what it returned, so that a test can change the tree right after the program
  // made or changed something there.
  void after_named_calls(std::function<void(OsCall, const std::string&, const os::Result&)> hook) {
    after_hook_ = std::move(hook);
  }
  // Drops every fault; calls go through unchanged again.
  void clear() { faults_.clear(); }

  const std::vector<OsCall>& log() const { return log_; }
  int count(OsCall call) const;

  os::Result create_file(const std::string& name, std::uint32_t access, std::uint32_t share_mode,
                         std::uint32_t disposition) override;
  os::Result read_file(os::Handle file, void* into, std::uint32_t count) override;
  os::Result read_file_at(os::Handle file, std::int64_t offset, void* into,
                          std::uint32_t count) override;
  os::Result write_file(os::Handle file, const void* from, std::uint32_t count) override;
  os::Result set_file_pointer(os::Handle file, std::int64_t offset) override;
  os::Result set_end_of_file(os::Handle file) override;
  os::Result file_size(os::Handle file) override;
  os::Result file_type(os::Handle file) override;
  os::Result close_handle(os::Handle file) override;
  os::Result map_view(os::Handle file, std::int64_t offset, std::uint32_t length,
                      const char** view) override;
  os::Result unmap_view(const char* view, std::uint32_t length) override;
  std::uint64_t view_faults() override { return inner_.view_faults(); }
  os::Result find_first(const std::string& pattern, os::FindData& first) override;
  os::Result find_next(os::Handle search, os::FindData& next) override;
  os::Result find_close(os::Handle search) override;
  os::Result set_current_directory(const std::string& path) override;
  os::Result delete_file(const std::string& name) override;
  os::Result create_directory(const std::string& name) override;
  os::Result remove_directory(const std::string& name) override;
  os::Result move_entry(const std::string& from, const std::string& to) override;
  os::Result full_path(const std::string& name, std::string& full) override;
  os::Result file_attributes(const std::string& name) override;
  os::Result replace_file(const std::string& from, const std::string& to) override;
  os::Result settle_ownership(os::Handle created, os::Handle replaced) override;
  os::Result lock_folder(const std::string& path) override;
  os::Result unlock_folder(os::Handle lock) override;
  os::Result encloses_current_directory(const std::string& path) override;

 private:
  struct Armed {
    Fault fault;
    int seen = 0;  // calls of its kind since it was added
  };
  // Counts the call and returns the fault that hits it, if any.
  const Fault* hit(OsCall call, const std::string* name);
  // Runs `forward` unless a fault hits; `failed` is the kind's failure value.
  template <class Forward>
  os::Result guarded(OsCall call, std::int64_t failed, Forward&& forward,
                     const std::string* name = nullptr);
  template <class Transfer>
  os::Result transfer(OsCall call, std::uint32_t count, Transfer&& move_bytes);

  os::Os& inner_;
  std::vector<Armed> faults_;
  std::vector<OsCall> log_;
  std::function<void(OsCall, const std::string&)> hook_;
  std::function<void(OsCall, const std::string&, const os::Result&)> after_hook_;
};

}  // namespace mapsweep::testing
