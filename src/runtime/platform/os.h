// The operating-system boundary: the few calls the runtime makes of the OS, in the shape
// of the Windows functions it was designed around. Every call reports a Windows-style
// last-error code (0 when it set none), never throws, and takes names as raw bytes.
//
// One implementation per OS is compiled in (posix.cpp and its posix_* files, win32.cpp);
// tests may wrap one to inject faults. Nothing here knows about channels, strings or maps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/platform/win_codes.h"

namespace mapsweep::os {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// Where a view of a file may start: a multiple of this, which suits every system's page
// and Windows' allocation granularity.
inline constexpr std::int64_t kViewAlignment = 64 * 1024;

// What a call returned (a handle, a byte count, a BOOL, a position or a file type, as each
// method says) and the last-error code the OS left behind. As on Windows, a call may
// succeed and still leave a code (183 after opening an existing file with kOpenAlways);
// judging the outcome is the caller's business.
struct Result {
  std::int64_t value = 0;
  std::uint32_t last_error = kErrorSuccess;
};

// Names cross the boundary as zero-terminated strings: a NUL byte ends a name there.
inline std::string_view up_to_nul(std::string_view name) {
  return name.substr(0, name.find('\0'));
}

// One directory entry as the search reports it: its attributes and its bare name.
struct FindData {
  std::uint32_t attributes = 0;
  std::string name;
};

class Os {
 public:
  virtual ~Os() = default;

  // CreateFileA: access is kGenericRead/kGenericWrite, share_mode 0 means exclusive
  // (kShareRead lets others read), disposition kOpenExisting, kOpenAlways or kCreateNew
  // (fails with 80 when any entry, a link included, has the name). Value: the handle, or
  // kInvalidHandle.
  virtual Result create_file(const std::string& name, std::uint32_t access,
                             std::uint32_t share_mode, std::uint32_t disposition) = 0;
  // ReadFile / WriteFile at the handle's file pointer. Value: bytes moved (0 on failure).
  virtual Result read_file(Handle file, void* into, std::uint32_t count) = 0;
  virtual Result write_file(Handle file, const void* from, std::uint32_t count) = 0;
  // ReadFile at an offset, leaving the file pointer where it was (as pread does), so that
  // plain reads go on where they stood. Value: bytes moved (0 on failure).
  virtual Result read_file_at(Handle file, std::int64_t offset, void* into,
                              std::uint32_t count) = 0;
  // SetFilePointer from the file's beginning. Value: the new position, or -1 on failure.
  virtual Result set_file_pointer(Handle file, std::int64_t offset) = 0;
  // SetEndOfFile at the current file pointer. Value: 1 on success, 0 on failure.
  virtual Result set_end_of_file(Handle file) = 0;
  // GetFileSizeEx. Value: the file's length in bytes, or -1 on failure.
  virtual Result file_size(Handle file) = 0;
  // GetFileType. Value: kFileTypeDisk, kFileTypeChar, kFileTypePipe or 0 (unknown).
  virtual Result file_type(Handle file) = 0;
  // CloseHandle. Value: 1 on success, 0 on failure.
  virtual Result close_handle(Handle file) = 0;

  // MapViewOfFile, read-only: the `length` bytes of the file from `offset` (a multiple of
  // kViewAlignment, the bytes inside the file) at *view, read without a copy. Value: 1, or
  // 0 with nothing mapped; a system that offers no views answers kErrorNotSupported, and
  // the caller reads instead.
  virtual Result map_view(Handle /*file*/, std::int64_t /*offset*/, std::uint32_t /*length*/,
                          const char** /*view*/) {
    return {0, kErrorNotSupported};
  }
  // UnmapViewOfFile. Value: 1 on success, 0 on failure.
  virtual Result unmap_view(const char* /*view*/, std::uint32_t /*length*/) {
    return {0, kErrorInvalidParameter};
  }
  // How often, in this process so far, reading a view met bytes its file could no longer
  // give (it was cut short meanwhile, or its disk failed). Those bytes read as zeros: a
  // reader that sees the count grow knows that what it read is not the file's.
  virtual std::uint64_t view_faults() { return 0; }

  // FindFirstFileA with a pattern that may hold * and ? in its last component. Value: the
  // search handle, or kInvalidHandle when nothing matched (last error 2) or the folder is
  // missing (3). On success `first` holds the first entry.
  virtual Result find_first(const std::string& pattern, FindData& first) = 0;
  // FindNextFileA. Value: 1 with `next` filled, or 0 with last error 18 when none is left.
  virtual Result find_next(Handle search, FindData& next) = 0;
  // FindClose. Value: 1 on success, 0 on failure.
  virtual Result find_close(Handle search) = 0;

  // SetCurrentDirectoryA. Value: 1 on success, 0 on failure (2/3 missing, 267 not a folder).
  virtual Result set_current_directory(const std::string& path) = 0;
  // DeleteFileA. Value: 1 on success, 0 on failure.
  virtual Result delete_file(const std::string& name) = 0;

  // CreateDirectoryA: a new, empty folder; fails with 183 when any entry, a link included,
  // has the name. Value: 1 on success, 0 on failure. A system that offers none answers
  // kErrorNotSupported.
  virtual Result create_directory(const std::string& /*name*/) { return {0, kErrorNotSupported}; }
  // RemoveDirectoryA: an empty folder, never what a link leads to. Value: 1 or 0.
  virtual Result remove_directory(const std::string& /*name*/) { return {0, kErrorNotSupported}; }
  // MoveFileExA without replacing: the entry `from` (a file or a folder; a link moves
  // itself) takes the name `to` in the same folder or another on the same volume, which no
  // entry may have (183). Value: 1 or 0.
  virtual Result move_entry(const std::string& /*from*/, const std::string& /*to*/) {
    return {0, kErrorNotSupported};
  }
  // GetFullPathNameA: the name made absolute against the current directory, so that it
  // keeps naming the same file when the current directory changes. Value: 1 or 0.
  virtual Result full_path(const std::string& name, std::string& full) = 0;
  // GetFileAttributesA, except that a symbolic link reports itself (kAttributeReparsePoint)
  // instead of its target, so that nothing is written through one unawares. Value: the
  // attributes, or -1 with 2 or 3 when no entry has the name.
  virtual Result file_attributes(const std::string& name) = 0;
  // MoveFileExA with replace-existing and write-through: `to` is replaced by `from` in one
  // step, so a reader sees either the old file or the new one, never a part. A link at
  // `to` is replaced itself, never what it leads to. Value: 1 on success, 0 on failure.
  virtual Result replace_file(const std::string& from, const std::string& to) = 0;
  // Gives `created`, a file this Os has just created to take another's place, what its
  // system keeps of a file apart from the bytes: the owner, group and permission bits of
  // the file open as `replaced`; or, when it replaces none (kInvalidHandle), the owner and
  // group of the folder it was created in where this process may give a file away, its
  // permission bits staying as created. Only the open handles are used, so that no name,
  // whatever it has been swapped for meanwhile, can turn this onto another file. Where new
  // files inherit their folder's permissions (Windows) there is nothing to do. Value: 1 on
  // success, 0 on failure.
  virtual Result settle_ownership(Handle created, Handle replaced) = 0;

  // A lock that keeps a second process from working in the same folder. The system drops
  // it when the process ends, however it ends. Value: a lock handle, or kInvalidHandle
  // with 32 when another holder has it.
  virtual Result lock_folder(const std::string& path) = 0;
  virtual Result unlock_folder(Handle lock) = 0;
  // Whether the folder named by path, links followed, is the current directory or one of
  // its ancestors, as the file system stores them. Value: 1 or 0.
  virtual Result encloses_current_directory(const std::string& path) = 0;

  // Gives the memory the process has freed back to the system, where its allocator keeps
  // it otherwise: a long run's work leaves its heap in pieces, and the largest allocation
  // of the run comes last.
  virtual void release_free_memory() {}
};

// The message box: shows text and title (both already cut at their first NUL, the title
// never empty) with the button set of `style` (0: OK, 4: Yes/No) and returns the button
// code (1 OK, 6 Yes, 7 No), or 0 when no box can be shown.
class Dialog {
 public:
  virtual ~Dialog() = default;
  virtual int show(const std::string& text, const std::string& title, std::uint32_t style) = 0;
};

// The implementations of this build's operating system. The native Os starts in the
// process's current directory and serves the process's user as it stands then: a process
// that changes its user makes a new one.
std::unique_ptr<Os> make_native_os();
std::unique_ptr<Dialog> make_native_dialog();

}  // namespace mapsweep::os
