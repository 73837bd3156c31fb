// Reading folders: the listing itself and the look for a name's stored spelling, shared by
// the resolver and the searches of the POSIX platform layer.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "runtime/platform/name_matching.h"
#include "runtime/platform/posix_calls.h"
#include "runtime/platform/posix_folders.h"

namespace mapsweep::os::posix_folders {
namespace {

// A folder opened only to look names up in it needs no read permission where the system
// has O_PATH.
#ifdef O_PATH
constexpr int kPathOnly = O_PATH;
#else
constexpr int kPathOnly = O_RDONLY;
#endif

bool is_dot_entry(std::string_view name) {
  return name == "." || name == "..";
}

}  // namespace

// The name as a listing holds it: itself, else its first variant in letter case in NTFS
// order, else as given.
std::string stored_in_listing(const std::vector<std::pair<std::string, unsigned char>>& entries,
                              const std::string& name) {
  const std::string* best = nullptr;
  for (const auto& [candidate, type] : entries) {
    if (candidate == name) return name;
    if (same_ignoring_case(candidate, name) && (best == nullptr || ntfs_less(candidate, *best))) {
      best = &candidate;
    }
  }
  return best != nullptr ? *best : name;
}

// Opened for reading where it may be, so that the same descriptor serves to list the folder
// later without a second open; a folder that may be searched but not read is opened to
// look names up in alone.
int open_folder_at(int at, const std::string& name, bool* readable, int extra_flags) {
  int fd = open_listing_at(at, name, extra_flags);
  const bool read_permitted = fd >= 0;
  if (fd < 0 && errno == EACCES && kPathOnly != O_RDONLY) {
    fd = retry_on_eintr(
        [&] { return ::openat(at, name.c_str(), kPathOnly | O_DIRECTORY | O_CLOEXEC | extra_flags); });
  }
  if (readable != nullptr) *readable = read_permitted;
  return fd;
}

int open_listing_at(int at, const std::string& name, int extra_flags) {
  return retry_on_eintr([&] {
    return ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | extra_flags);
  });
}

int open_for_listing(int folder) {
  return open_listing_at(folder, ".");
}

#ifdef __linux__

// The record getdents64 fills in, as the kernel lays it out.
struct KernelEntry {
  std::uint64_t ino;
  std::int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

constexpr std::size_t kListingPiece = 32 * 1024;

FolderReader::FolderReader(int fd, bool owned) : fd_(fd), owned_(owned) {
  if (fd < 0) error_ = errno;
}

FolderReader::~FolderReader() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

bool FolderReader::refill() {
  // Not zeroed: the kernel fills what is read, and a listing is read for every folder.
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kListingPiece);
  const long n =
      retry_on_eintr([&] { return ::syscall(SYS_getdents64, fd_, buffer_.get(), kListingPiece); });
  if (n < 0) error_ = errno;
  filled_ = n > 0 ? static_cast<std::size_t>(n) : 0;
  at_ = 0;
  return filled_ > 0;
}

std::optional<ListedEntry> FolderReader::next_entry() {
  for (;;) {
    if (at_ >= filled_ && !refill()) return std::nullopt;
    const char* record = buffer_.get() + at_;
    unsigned short length = 0;
    std::memcpy(&length, record + offsetof(KernelEntry, reclen), sizeof length);
    if (length == 0 || length > filled_ - at_) {  // never from a sound kernel
      error_ = EIO;
      return std::nullopt;
    }
    at_ += length;
    const char* name = record + offsetof(KernelEntry, name);
    const ListedEntry entry{std::string_view(name, ::strnlen(name, length - offsetof(KernelEntry, name))),
                            static_cast<unsigned char>(record[offsetof(KernelEntry, type)])};
    if (!is_dot_entry(entry.name)) return entry;
  }
}

#else

FolderReader::FolderReader(int fd, bool owned) : fd_(fd), owned_(owned) {
  if (fd < 0) {
    error_ = errno;
    return;
  }
  // The stream takes the descriptor over: a borrowed one is read through a copy of its own.
  if (!owned) {
    fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
  }
  dir_ = ::fdopendir(fd_);
  if (dir_ == nullptr) {
    error_ = errno;
    ::close(fd_);
    fd_ = -1;
  }
}

FolderReader::~FolderReader() {
  if (dir_ != nullptr) ::closedir(dir_);
}

std::optional<ListedEntry> FolderReader::next_entry() {
  errno = 0;
  while (const dirent* entry = ::readdir(dir_)) {
    if (!is_dot_entry(entry->d_name)) return ListedEntry{entry->d_name, entry->d_type};
    errno = 0;
  }
  error_ = errno;
  return std::nullopt;
}

#endif

std::string stored_name(int folder, const std::string& name, ExactLook* look) {
  struct stat st;
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (look != nullptr) *look = {true, false, st};
    return name;
  }
  if (errno != ENOENT) return name;
  std::string stored = stored_variant(folder, name);
  if (look != nullptr) look->missing = stored == name;
  return stored;
}

std::string stored_variant(int folder, const std::string& name) {
  FolderReader reader(open_for_listing(folder));
  if (!reader.is_open()) return name;
  std::optional<std::string> best;
  while (const std::optional<ListedEntry> entry = reader.next_entry()) {
    const std::string_view candidate = entry->name;
    if (same_ignoring_case(candidate, name) && (!best || ntfs_less(candidate, *best))) {
      best = std::string(candidate);
    }
  }
  return best ? *best : name;
}

}  // namespace mapsweep::os::posix_folders
