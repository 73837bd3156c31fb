// The Windows platform layer: the platform interface over the system's own ANSI file
// functions and MessageBoxA. This file may hold only thin calls of those functions and the
// bookkeeping around each one (error mode, last error, handle casts). It emulates nothing:
// letter case, wildcards, entry order, sharing and attributes are whatever Windows does,
// with one correction: a search does not report an entry that matched its pattern only
// through the entry's 8.3 short name.
#include <windows.h>

#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "runtime/platform/name_matching.h"
#include "runtime/platform/os.h"

namespace mapsweep::os {
namespace {

static_assert(sizeof(Handle) == sizeof(HANDLE), "a handle must round-trip through os::Handle");

// No "insert a disk" or "cannot open" boxes from the system while a call runs.
constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;  // 0x8001

// The error mode belongs to the process, so the lock that keeps one call's error mode and
// last-error value together is process-wide as well, whatever Os object makes the call.
std::mutex& system_call_lock() {
  static std::mutex lock;
  return lock;
}

// Runs one system function with the quiet error mode and a cleared last error, and reports
// what it returned with the last error it left; the previous error mode is restored.
template <class Call>
Result guarded(Call&& call) {
  std::lock_guard<std::mutex> hold(system_call_lock());
  const UINT previous = SetErrorMode(kQuietErrorMode);
  SetLastError(0);
  const std::int64_t value = call();
  const DWORD code = GetLastError();
  SetErrorMode(previous);
  return {value, static_cast<std::uint32_t>(code)};
}

HANDLE to_native(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}
Handle from_native(HANDLE h) {
  return reinterpret_cast<Handle>(h);
}

// Windows matches a pattern against the 8.3 short name too, where the volume keeps short
// names: "*.BSP" then finds "e1m1.bsp2" (short name E1M1~1.BSP) and "pak*.pak" finds
// "pak0.pak2". Whether it does depends on a per-volume setting, so the same folder would
// list differently from machine to machine. Entries with a short name whose long name does
// not match are passed over; an entry without a short name is always the system's match.

// The last component of a search pattern when the long names must be checked against it:
// it has wildcards, and none of the DOS forms whose meaning plain matching does not give
// ("*.*", a trailing dot or ".*", '?' before a dot or at the end). Empty: no check.
std::string long_name_pattern(const std::string& pattern) {
  const auto cut = pattern.find_last_of("\\/:");
  const std::string last = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (last.find_first_of("*?") == std::string::npos) return {};
  if (last == "*" || last == "*.*" || last.back() == '.' || last.back() == '?') return {};
  if (last.size() >= 2 && last.compare(last.size() - 2, 2, ".*") == 0) return {};
  if (last.find("?.") != std::string::npos) return {};
  return last;
}

bool matched_by_short_name_only(const std::string& long_pattern, const WIN32_FIND_DATAA& found) {
  return !long_pattern.empty() && found.cAlternateFileName[0] != '\0' &&
         !wildcard_match(
             long_pattern,
             std::string_view(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName)));
}

void copy_entry(const WIN32_FIND_DATAA& found, FindData& into) {
  into.attributes = found.dwFileAttributes;
  into.name.assign(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName));
}

// GetFullPathNameA into `full`; false when the name cannot be made absolute.
bool get_full_path(const std::string& name, std::string& full) {
  const DWORD size = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
  if (size == 0) return false;
  full.assign(size, '\0');
  const DWORD written = GetFullPathNameA(name.c_str(), size, full.data(), nullptr);
  if (written == 0 || written >= size) return false;
  full.resize(written);
  return true;
}

std::string absolute_path(const std::string& path) {
  std::string full;
  return get_full_path(path, full) ? full : path;
}

// FNV-1a over the path with ASCII letters in upper case, as hexadecimal digits: a mutex
// name may not hold the path's backslashes.
std::string folder_key(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : path) {
    hash ^= ascii_upper(c == '/' ? '\\' : c);
    hash *= 1099511628211ull;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string key;
  for (int shift = 60; shift >= 0; shift -= 4) key += kDigits[(hash >> shift) & 0xF];
  return key;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A folder opened to be looked at, not read: `share` says what others may do meanwhile.
HANDLE open_folder(const std::string& path, DWORD share) {
  return CreateFileA(path.c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

// The path of the folder open as `folder` as the file system stores it, links and short
// names resolved; empty when it cannot be had.
std::string final_path_of(HANDLE folder) {
  std::string final(MAX_PATH, '\0');
  DWORD size = GetFinalPathNameByHandleA(folder, final.data(), MAX_PATH, FILE_NAME_NORMALIZED);
  if (size >= MAX_PATH) {
    final.resize(size + 1);
    size = GetFinalPathNameByHandleA(folder, final.data(), size + 1, FILE_NAME_NORMALIZED);
  }
  final.resize(size < final.size() ? size : 0);
  return final;
}

std::string final_path(const std::string& path) {
  const HANDLE folder = open_folder(path, kShareAll);
  if (folder == INVALID_HANDLE_VALUE) return {};
  std::string final = final_path_of(folder);
  CloseHandle(folder);
  return final;
}

// Whether the folder at `outer` is the one at `inner` or holds it, both final paths.
bool path_encloses(const std::string& outer, const std::string& inner) {
  return inner.size() >= outer.size() &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, inner.c_str(),
                        static_cast<int>(outer.size()), outer.c_str(),
                        static_cast<int>(outer.size())) == CSTR_EQUAL &&
         (inner.size() == outer.size() || outer.back() == '\\' || inner[outer.size()] == '\\');
}

// Which file an open handle is: its volume and its number there.
struct FileIdentity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identity_of(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Whether the current directory is the file of that identity.
bool current_directory_is(const FileIdentity& expected) {
  const HANDLE current = open_folder(".", kShareAll);
  if (current == INVALID_HANDLE_VALUE) return false;
  const std::optional<FileIdentity> id = identity_of(current);
  CloseHandle(current);
  return id && *id == expected;
}

std::string current_directory() {
  const DWORD size = GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return {};
  std::string path(size, '\0');
  const DWORD written = GetCurrentDirectoryA(size, path.data());
  path.resize(written < size ? written : 0);
  return path;
}

// A handle opened to be written that reached a link or a folder: opened with
// FILE_FLAG_OPEN_REPARSE_POINT, it holds the link itself, never what it leads to.
bool is_link_or_folder(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return true;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

class Win32Os final : public Os {
 public:
  ~Win32Os() override { release_checked(); }

  // A file to be written is never reached through a link: a name judged a plain file a
  // moment ago may be a link or junction by now. Nothing is truncated by an open, so one that
  // reached a link is closed again before anything was written.
  Result create_file(const std::string& name, std::uint32_t access, std::uint32_t share_mode,
                     std::uint32_t disposition) override {
    const bool writes = (access & kGenericWrite) != 0;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (writes ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return guarded([&] {
      const HANDLE file =
          CreateFileA(name.c_str(), access, share_mode, nullptr, disposition, flags, nullptr);
      if (file != INVALID_HANDLE_VALUE && writes && is_link_or_folder(file)) {
        CloseHandle(file);
        SetLastError(ERROR_ACCESS_DENIED);
        return static_cast<std::int64_t>(kInvalidHandle);
      }
      return static_cast<std::int64_t>(from_native(file));
    });
  }

  Result read_file(Handle file, void* into, std::uint32_t count) override {
    return guarded([&] {
      DWORD moved = 0;
      ReadFile(to_native(file), into, count, &moved, nullptr);
      return static_cast<std::int64_t>(moved);
    });
  }

  Result read_file_at(Handle file, std::int64_t offset, void* into, std::uint32_t count) override {
    return guarded([&] {
      // A synchronous handle's file pointer moves behind what an OVERLAPPED read read: it
      // is put back, as plain reads go on where they stood.
      LARGE_INTEGER stood{};
      if (!SetFilePointerEx(to_native(file), LARGE_INTEGER{}, &stood, FILE_CURRENT)) {
        return std::int64_t{0};
      }
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD moved = 0;
      const BOOL read = ReadFile(to_native(file), into, count, &moved, &at);
      // At the end of a synchronous file ReadFile fails with ERROR_HANDLE_EOF: that is a
      // short read of nothing, as a plain read at the end gives.
      const DWORD code = read || GetLastError() == ERROR_HANDLE_EOF ? 0 : GetLastError();
      SetFilePointerEx(to_native(file), stood, nullptr, FILE_BEGIN);
      SetLastError(code);
      return static_cast<std::int64_t>(moved);
    });
  }

  Result write_file(Handle file, const void* from, std::uint32_t count) override {
    return guarded([&] {
      DWORD moved = 0;
      WriteFile(to_native(file), from, count, &moved, nullptr);
      return static_cast<std::int64_t>(moved);
    });
  }

  Result set_file_pointer(Handle file, std::int64_t offset) override {
    return guarded([&] {
      LONG high = static_cast<LONG>(offset >> 32);
      const DWORD low = SetFilePointer(to_native(file), static_cast<LONG>(offset & 0xFFFFFFFF),
                                       &high, FILE_BEGIN);
      // The low part alone cannot tell failure from a position ending in all ones; the
      // last error, cleared before the call, can.
      if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        return std::int64_t{-1};
      }
      return (static_cast<std::int64_t>(static_cast<DWORD>(high)) << 32) | low;
    });
  }

  Result set_end_of_file(Handle file) override {
    return guarded([&] { return static_cast<std::int64_t>(SetEndOfFile(to_native(file)) != 0); });
  }

  Result file_size(Handle file) override {
    return guarded([&] {
      LARGE_INTEGER size;
      return GetFileSizeEx(to_native(file), &size) ? static_cast<std::int64_t>(size.QuadPart)
                                                   : std::int64_t{-1};
    });
  }

  Result file_type(Handle file) override {
    return guarded([&] { return static_cast<std::int64_t>(GetFileType(to_native(file))); });
  }

  Result close_handle(Handle file) override {
    return guarded([&] { return static_cast<std::int64_t>(CloseHandle(to_native(file)) != 0); });
  }

  Result find_first(const std::string& pattern, FindData& first) override {
    const std::string long_pattern = long_name_pattern(pattern);
    return guarded([&] {
      WIN32_FIND_DATAA found{};
      HANDLE search = FindFirstFileA(pattern.c_str(), &found);
      while (search != INVALID_HANDLE_VALUE && matched_by_short_name_only(long_pattern, found)) {
        if (!FindNextFileA(search, &found)) {
          // Nothing matched after all: answer as the system does for no match.
          FindClose(search);
          search = INVALID_HANDLE_VALUE;
          SetLastError(ERROR_FILE_NOT_FOUND);
        }
      }
      if (search != INVALID_HANDLE_VALUE) {
        copy_entry(found, first);
        if (!long_pattern.empty()) long_patterns_[from_native(search)] = long_pattern;
      }
      return static_cast<std::int64_t>(from_native(search));
    });
  }

  Result find_next(Handle search, FindData& next) override {
    const auto kept = long_patterns_.find(search);
    const std::string long_pattern = kept == long_patterns_.end() ? "" : kept->second;
    return guarded([&] {
      WIN32_FIND_DATAA found{};
      BOOL ok = FindNextFileA(to_native(search), &found);
      while (ok && matched_by_short_name_only(long_pattern, found)) {
        ok = FindNextFileA(to_native(search), &found);
      }
      if (ok) copy_entry(found, next);
      return static_cast<std::int64_t>(ok != 0);
    });
  }

  Result find_close(Handle search) override {
    long_patterns_.erase(search);
    return guarded([&] { return static_cast<std::int64_t>(FindClose(to_native(search)) != 0); });
  }

  // The folder the enclosure check held is entered by name, then confirmed to be the one
  // entered; were it another (its name swapped meanwhile), the run goes back where it was
  // and passes the folder over.
  Result set_current_directory(const std::string& path) override {
    std::optional<CheckedFolder> checked = take_checked(path);
    Result entered = guarded(
        [&] { return static_cast<std::int64_t>(SetCurrentDirectoryA(path.c_str()) != 0); });
    if (!checked) return entered;
    if (entered.value != 0 && !guarded([&] {
                                  return std::int64_t{current_directory_is(checked->id)};
                                }).value) {
      guarded([&] { return std::int64_t{SetCurrentDirectoryA(checked->from.c_str()) != 0}; });
      entered = {0, ERROR_PATH_NOT_FOUND};
    }
    CloseHandle(checked->held);
    return entered;
  }

  Result delete_file(const std::string& name) override {
    return guarded([&] { return static_cast<std::int64_t>(DeleteFileA(name.c_str()) != 0); });
  }

  Result create_directory(const std::string& name) override {
    return guarded([&] { return std::int64_t{CreateDirectoryA(name.c_str(), nullptr) != 0}; });
  }

  // RemoveDirectoryA removes a folder link itself, never the folder it leads to.
  Result remove_directory(const std::string& name) override {
    return guarded([&] { return std::int64_t{RemoveDirectoryA(name.c_str()) != 0}; });
  }

  Result move_entry(const std::string& from, const std::string& to) override {
    return guarded([&] {
      return std::int64_t{MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0};
    });
  }

  Result full_path(const std::string& name, std::string& full) override {
    return guarded([&] { return std::int64_t{get_full_path(name, full) ? 1 : 0}; });
  }

  Result file_attributes(const std::string& name) override {
    return guarded([&] {
      const DWORD attributes = GetFileAttributesA(name.c_str());
      return attributes == INVALID_FILE_ATTRIBUTES ? std::int64_t{-1}
                                                   : static_cast<std::int64_t>(attributes);
    });
  }

  Result replace_file(const std::string& from, const std::string& to) override {
    return guarded([&] {
      return static_cast<std::int64_t>(
          MoveFileExA(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0);
    });
  }

  // A new file inherits its folder's permissions, and the file it replaces keeps none of
  // its own through the move: there is nothing to give.
  Result settle_ownership(Handle /*created*/, Handle /*replaced*/) override {
    return {1, kErrorSuccess};
  }

  // A named mutex stands for the folder: the system removes it with the last handle, so a
  // run that is killed leaves nothing behind. Its name is derived from the folder's full
  // path in one letter case, as Windows names folders ignoring case.
  Result lock_folder(const std::string& path) override {
    const std::string name = "Local\\mapsweep-" + folder_key(absolute_path(path));
    const Result r = guarded([&] {
      return static_cast<std::int64_t>(from_native(CreateMutexA(nullptr, FALSE, name.c_str())));
    });
    if (r.value == 0) return {kInvalidHandle, r.last_error};
    if (r.last_error == ERROR_ALREADY_EXISTS) {
      CloseHandle(to_native(r.value));
      return {kInvalidHandle, ERROR_SHARING_VIOLATION};
    }
    return {r.value, kErrorSuccess};
  }

  Result unlock_folder(Handle lock) override {
    return guarded([&] { return static_cast<std::int64_t>(CloseHandle(to_native(lock)) != 0); });
  }

  // The folder checked stays open until it is entered: held without sharing its deletion,
  // it cannot be renamed or removed meanwhile, so nothing else can take its name between
  // the check and the entry.
  Result encloses_current_directory(const std::string& path) override {
    release_checked();
    bool encloses = false;
    guarded([&] {
      HANDLE folder = open_folder(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
      // Held by someone who may delete it: it is checked all the same, and its entry
      // confirmed against it.
      if (folder == INVALID_HANDLE_VALUE) folder = open_folder(path, kShareAll);
      if (folder == INVALID_HANDLE_VALUE) return std::int64_t{0};
      const std::string outer = final_path_of(folder);
      const std::string inner = final_path(".");
      encloses = !outer.empty() && !inner.empty() && path_encloses(outer, inner);
      const std::optional<FileIdentity> id = identity_of(folder);
      if (encloses || !id) {
        CloseHandle(folder);
      } else {
        checked_ = CheckedFolder{path, current_directory(), folder, *id};
      }
      return std::int64_t{0};
    });
    return {encloses ? 1 : 0, kErrorSuccess};
  }

 private:
  struct CheckedFolder {
    std::string name;
    std::string from;  // the current directory it was checked from
    HANDLE held = INVALID_HANDLE_VALUE;
    FileIdentity id;
  };

  // The folder the enclosure check held for this very name, from this very directory.
  std::optional<CheckedFolder> take_checked(const std::string& name) {
    std::optional<CheckedFolder> checked = std::exchange(checked_, std::nullopt);
    if (!checked) return std::nullopt;
    if (checked->name == name && checked->from == current_directory()) return checked;
    CloseHandle(checked->held);
    return std::nullopt;
  }

  void release_checked() {
    if (checked_) CloseHandle(checked_->held);
    checked_.reset();
  }

  std::optional<CheckedFolder> checked_;
  // The long-name pattern of each open search that needs one.
  std::map<Handle, std::string> long_patterns_;
};

class Win32Dialog final : public Dialog {
 public:
  int show(const std::string& text, const std::string& title, std::uint32_t style) override {
    // No owner window: the program has none. A box that cannot be shown answers 0.
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), style & 0xFFFF);
  }
};

}  // namespace

std::unique_ptr<Os> make_native_os() {
  return std::make_unique<Win32Os>();
}
std::unique_ptr<Dialog> make_native_dialog() {
  return std::make_unique<Win32Dialog>();
}

}  // namespace mapsweep::os
