#include "runtime/platform/posix_folders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace mapsweep::os::posix_folders {
namespace {

bool begins_with(const Components& whole, const Components& start) {
  return start.size() <= whole.size() && std::equal(start.begin(), start.end(), whole.begin());
}

int open_root() {
  return open_folder_at(AT_FDCWD, "/");
}

std::optional<Components> process_directory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  return split_components(buffer.data());
}

}  // namespace

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

Components split_components(std::string_view path) {
  Components parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !is_separator(path[end])) ++end;
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string join_components(const Components& parts) {
  if (parts.empty()) return "/";
  std::string path;
  for (const std::string& part : parts) path += "/" + part;
  return path;
}

Descriptor::~Descriptor() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (owned_ && fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    owned_ = std::exchange(other.owned_, false);
  }
  return *this;
}

int Descriptor::release_owned() {
  if (fd_ < 0) return -1;
  const int fd = owned_ ? fd_ : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  fd_ = -1;
  owned_ = false;
  return fd;
}

HeldFolders::HeldFolders() {
  std::optional<Components> parts = process_directory();
  if (!parts) return;
  bool readable = false;
  const int fd = open_folder_at(AT_FDCWD, ".", &readable);
  if (fd >= 0) held_.push_back({std::move(*parts), fd, next_id_++, std::nullopt, readable});
}

HeldFolders::~HeldFolders() {
  for (const Held& held : held_) ::close(held.fd);
  for (const Held& made : made_) ::close(made.fd);
}

// "." is dropped and ".." drops the last component (never above the root), as the logical
// current directory of Windows does: a link entered is left the way it was entered.
std::optional<Components> HeldFolders::logical_parts(std::string_view name) const {
  Components parts;
  if (name.empty() || !is_separator(name.front())) {
    if (!has_current()) return std::nullopt;
    parts = current();
  }
  for (std::string& part : split_components(name)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

const HeldFolders::Held* HeldFolders::deepest_held(const Components& parts,
                                                   std::size_t limit) const {
  const Held* deepest = nullptr;
  for (const std::vector<Held>* chain : {&held_, &made_}) {
    for (auto held = chain->rbegin(); held != chain->rend(); ++held) {
      if (held->parts.size() <= limit && begins_with(parts, held->parts)) {
        if (deepest == nullptr || held->parts.size() > deepest->parts.size()) deepest = &*held;
        break;
      }
    }
  }
  return deepest;
}

namespace {

// The infix of every name the program gives what it builds beside its place.
constexpr char kRunsOwnInfix[] = ".mapsweep-";

}  // namespace

Descriptor HeldFolders::walk(const Components& parts, std::size_t depth, Components& walked,
                             int& error, std::uint64_t& id, std::size_t* failed_at, bool& listable,
                             bool for_listing) const {
  Descriptor folder;
  std::size_t next = 0;
  const Held* held = deepest_held(parts, depth);
  id = held != nullptr && held->parts.size() == depth ? held->id : 0;
  if (held != nullptr) {
    folder = Descriptor(held->fd, false);
    walked = held->parts;
    next = held->parts.size();
  } else {
    folder = Descriptor(open_root(), true);
    walked.clear();
    if (!folder.valid()) error = errno;
  }
  listable = false;
  // A folder this program builds under a temporary name (".mapsweep-" and six letters)
  // lies in a folder others may write: its name, and any folder below it, may have been
  // swapped for a link meanwhile, and following one would create or delete files where it
  // leads. Such paths are walked without following links.
  // A folder made by the run lies in one (see hold_made).
  int no_links = held != nullptr && held->exclusive ? O_NOFOLLOW : 0;
  for (; folder.valid() && next < depth; ++next) {
    if (parts[next].find(kRunsOwnInfix) != std::string::npos) no_links = O_NOFOLLOW;
    // A folder to be listed is opened for reading from its parent: that takes leave to
    // read it, not to search it.
    const bool only_to_list = for_listing && next + 1 == depth;
    bool readable = false;
    const auto open_next = [&](const std::string& name) {
      if (only_to_list) {
        const int fd = open_listing_at(folder.get(), name, no_links);
        readable = fd >= 0;
        return Descriptor(fd, true);
      }
      return Descriptor(open_folder_at(folder.get(), name, &readable, no_links), true);
    };
    // The name as given is tried first, as it is mostly stored so: found, it is the stored
    // name, and no look before the open is needed. Only a name not there (or a link that
    // leads nowhere, which is there all the same) is looked up ignoring case.
    Descriptor next_folder = open_next(parts[next]);
    std::string stored = parts[next];
    if (!next_folder.valid() && errno == ENOENT) {
      const bool in_held = held != nullptr && next == held->parts.size();
      stored = in_held ? stored_in_held(*held, parts[next])
                       : stored_name(folder.get(), parts[next]);
      if (stored != parts[next]) {
        next_folder = open_next(stored);
      } else {
        errno = ENOENT;
      }
    }
    if (!next_folder.valid()) {
      error = errno;
      if (failed_at != nullptr) *failed_at = next;
    }
    listable = next_folder.valid() && readable;
    walked.push_back(std::move(stored));
    folder = std::move(next_folder);
  }
  // What could not be walked is kept as given, so that messages still name it.
  walked.insert(walked.end(), parts.begin() + static_cast<std::ptrdiff_t>(walked.size()),
                parts.begin() + static_cast<std::ptrdiff_t>(depth));
  return folder;
}

std::optional<Located> HeldFolders::locate(std::string_view name, bool look) const {
  const std::optional<Components> parts = logical_parts(name);
  if (!parts) return std::nullopt;
  Located located;
  const std::size_t depth = parts->empty() ? 0 : parts->size() - 1;
  bool readable = false;
  located.folder = walk(*parts, depth, located.parts, located.error, located.folder_id, nullptr,
                        readable, false);
  if (parts->empty()) return located;
  if (!located.folder.valid()) {
    located.parts.push_back(parts->back());
  } else if (const Held* held = held_by_id(located.folder_id)) {
    located.parts.push_back(stored_in_held(*held, parts->back(), look ? &located.look : nullptr));
  } else {
    located.parts.push_back(
        stored_name(located.folder.get(), parts->back(), look ? &located.look : nullptr));
  }
  return located;
}

std::optional<std::string> HeldFolders::leaf_in_current(std::string_view name) const {
  if (!has_current()) return std::nullopt;
  std::optional<Components> parts = logical_parts(name);
  if (!parts || parts->size() != current().size() + 1 || !begins_with(*parts, current())) {
    return std::nullopt;
  }
  return std::move(parts->back());
}

std::optional<OpenedFolder> HeldFolders::open_folder(std::string_view name,
                                                     bool for_listing) const {
  const std::optional<Components> parts = logical_parts(name);
  if (!parts) return std::nullopt;
  OpenedFolder opened;
  std::size_t failed_at = 0;
  opened.folder = walk(*parts, parts->size(), opened.parts, opened.error, opened.folder_id,
                       &failed_at, opened.listable, for_listing);
  opened.failed_at_last = !opened.folder.valid() && failed_at + 1 == parts->size();
  return opened;
}

void HeldFolders::enter(Components parts, Descriptor folder, const struct stat* looked_at,
                        bool readable) {
  while (!held_.empty() && !begins_with(parts, held_.back().parts)) {
    forget_listing(held_.back().id);
    ::close(held_.back().fd);
    held_.pop_back();
  }
  if (!held_.empty() && held_.back().parts == parts) {
    if (folder.get() == held_.back().fd) return;  // back where it was held
    forget_listing(held_.back().id);
    ::close(held_.back().fd);
    held_.back() = {std::move(parts), folder.release_owned(), next_id_++, std::nullopt, readable};
    if (looked_at != nullptr) held_.back().looked_at = *looked_at;
    return;
  }
  held_.push_back({std::move(parts), folder.release_owned(), next_id_++, std::nullopt, readable});
  if (looked_at != nullptr) held_.back().looked_at = *looked_at;
}

const HeldFolders::Held* HeldFolders::held_by_id(std::uint64_t id) const {
  if (id == 0) return nullptr;
  for (const std::vector<Held>* chain : {&held_, &made_}) {
    for (const Held& held : *chain) {
      if (held.id == id) return &held;
    }
  }
  return nullptr;
}

void HeldFolders::close_made_back() {
  forget_listing(made_.back().id);
  ::close(made_.back().fd);
  made_.pop_back();
}

void HeldFolders::hold_made(const Components& parts, int parent) {
  const bool runs_own = std::any_of(parts.begin(), parts.end(), [](const std::string& part) {
    return part.find(kRunsOwnInfix) != std::string::npos;
  });
  if (!runs_own) return;
  const int fd = ::openat(parent, parts.back().c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  // Another's folder, or one that others may write, put in its place since it was made, is
  // walked to by name at every use, as any other folder is.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::close(fd);
    return;
  }
  while (!made_.empty() &&
         (made_.back().parts == parts || !begins_with(parts, made_.back().parts))) {
    close_made_back();
  }
  made_.push_back({parts, fd, next_id_++, std::nullopt, true, false, true});
  // Read once now: empty, unless another process of the same user was quicker.
  if (list_afresh(made_.back().id, &st, [](std::string_view, unsigned char) {}) != 0) {
    close_made_back();
  }
}

void HeldFolders::forget_made(const Components& parts) {
  const auto below = std::find_if(made_.begin(), made_.end(),
                                  [&](const Held& made) { return begins_with(made.parts, parts); });
  const auto kept = static_cast<std::size_t>(below - made_.begin());
  while (made_.size() > kept) close_made_back();
}

}  // namespace mapsweep::os::posix_folders
