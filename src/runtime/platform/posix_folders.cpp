#include "runtime/platform/posix_folders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace mapsweep::os::posix_folders {
namespace {

// The listings kept: the base, a game folder and its maps folder are held at once.
constexpr std::size_t kKeptListings = 4;
constexpr std::size_t kLargestKeptListing = 1024;

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether a folder's times, as they stand now, will tell any later change of its entries.
// A change is stamped with the system's coarse clock, cut to what the file system keeps:
// one made in the same tick as the last would leave the times as they are. So a listing is
// trusted only when the folder last changed well before it was read: a tenth of a second
// where the file system keeps fractions of a second, two and a half seconds where it may
// keep whole or even seconds only (its times then end in zero nanoseconds).
bool times_can_tell_changes(const struct stat& folder) {
  timespec now{};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  const auto nanoseconds = [](const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
  };
  const bool fine = folder.st_mtim.tv_nsec != 0 && folder.st_ctim.tv_nsec != 0;
  const std::int64_t margin = fine ? 100'000'000 : 2'500'000'000;
  const std::int64_t latest = std::max(nanoseconds(folder.st_mtim), nanoseconds(folder.st_ctim));
  return nanoseconds(now) - latest > margin;
}

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
  for (auto held = held_.rbegin(); held != held_.rend(); ++held) {
    if (held->parts.size() <= limit && begins_with(parts, held->parts)) return &*held;
  }
  return nullptr;
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
  int no_links = 0;
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
  for (const Held& held : held_) {
    if (held.id == id) return &held;
  }
  return nullptr;
}

HeldFolders::Listing* HeldFolders::kept_listing(std::uint64_t id) const {
  for (Listing& listing : listings_) {
    if (listing.id == id) return &listing;
  }
  return nullptr;
}

const Entries* HeldFolders::valid_listing(std::uint64_t id, struct stat& stamp,
                                          bool& stamped) const {
  stamped = false;
  const Held* held = held_by_id(id);
  if (held == nullptr) return nullptr;
  Listing* kept = kept_listing(id);
  if (kept != nullptr && kept->trusted && kept->confirmed_in == call_) return &kept->entries;
  // A folder's times taken when it was opened are older than any listing of it: a change
  // after them shows as surely as one after a look taken now.
  if (kept == nullptr && held->looked_at) {
    stamp = *held->looked_at;
  } else if (::fstat(held->fd, &stamp) != 0) {
    return nullptr;
  }
  held->looked_at.reset();
  stamped = true;
  if (kept != nullptr && kept->trusted && same_time(kept->modified, stamp.st_mtim) &&
      same_time(kept->changed, stamp.st_ctim)) {
    kept->confirmed_in = call_;
    return &kept->entries;
  }
  return nullptr;
}

// Through the held descriptor itself, rewound, where it is open for reading: an open and a
// close fewer for every listing. Otherwise through a descriptor opened for the listing.
FolderReader HeldFolders::read_held(const Held& held) const {
  if (!held.readable) return FolderReader(open_for_listing(held.fd));
  if (std::exchange(held.read_before, true) && ::lseek(held.fd, 0, SEEK_SET) != 0) {
    return FolderReader(-1);  // errno tells why
  }
  return FolderReader(held.fd, false);
}

int HeldFolders::list_afresh(std::uint64_t id, const struct stat* stamp,
                             const EntrySink& each) const {
  forget_listing(id);
  const Held* held = held_by_id(id);
  if (held == nullptr) return EBADF;
  FolderReader reader = read_held(*held);
  // A large folder's entries are handed out and not kept: keeping them would cost megabytes
  // for the few lookups a visit makes, and such a folder is listed afresh each time.
  std::optional<Listing> listing;
  if (stamp != nullptr) {
    listing =
        Listing{id, {}, stamp->st_mtim, stamp->st_ctim, times_can_tell_changes(*stamp), call_};
  }
  while (const std::optional<ListedEntry> entry = reader.next_entry()) {
    each(entry->name, entry->type);
    if (!listing) continue;
    if (listing->entries.size() == kLargestKeptListing) {
      listing.reset();
      continue;
    }
    listing->entries.emplace_back(entry->name, entry->type);
  }
  if (!reader.is_open() || reader.error() != 0) return reader.error() != 0 ? reader.error() : EIO;
  if (listing) {
    if (listings_.size() == kKeptListings) listings_.erase(listings_.begin());
    listings_.push_back(std::move(*listing));
  }
  return 0;
}

const Entries* HeldFolders::listing_of(std::uint64_t id) const {
  struct stat stamp;
  bool stamped = false;
  if (const Entries* kept = valid_listing(id, stamp, stamped)) return kept;
  if (!stamped || list_afresh(id, &stamp, [](std::string_view, unsigned char) {}) != 0) {
    return nullptr;
  }
  const Listing* kept = kept_listing(id);
  return kept != nullptr ? &kept->entries : nullptr;
}

// The change this process just made is in the listing already. Another made by someone
// else in the same clock tick would go unseen: no worse than one made just after a listing
// was read, which any listing misses.
void HeldFolders::restamp(Listing& listing, std::uint64_t id, const struct stat* now) {
  const Held* held = held_by_id(id);
  struct stat st;
  if (now != nullptr) st = *now;
  if (!listing.trusted || held == nullptr || (now == nullptr && ::fstat(held->fd, &st) != 0)) {
    listing.trusted = false;
    return;
  }
  listing.modified = st.st_mtim;
  listing.changed = st.st_ctim;
}

// A caller that wants the look at the name gets the exact name looked at first: that one
// look serves it, and the listing is needed only for a name not stored as given. One that
// wants only the stored name gets it from the listing, which costs one look at the folder
// whether the name is there or not.
std::string HeldFolders::stored_in_held(const Held& held, const std::string& name,
                                        ExactLook* look) const {
  if (look == nullptr) {
    if (const auto* entries = listing_of(held.id)) return stored_in_listing(*entries, name);
  }
  struct stat st;
  if (::fstatat(held.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (look != nullptr) *look = {true, false, st};
    return name;
  }
  if (errno != ENOENT) return name;
  const auto* entries = listing_of(held.id);
  std::string stored =
      entries != nullptr ? stored_in_listing(*entries, name) : stored_variant(held.fd, name);
  if (look != nullptr) look->missing = stored == name;
  return stored;
}

void HeldFolders::forget_listing(std::uint64_t id) const {
  std::erase_if(listings_, [&](const Listing& listing) { return listing.id == id; });
}

void HeldFolders::add_entry(Listing& listing, const std::string& name) {
  const bool known = std::any_of(listing.entries.begin(), listing.entries.end(),
                                 [&](const auto& entry) { return entry.first == name; });
  if (!known) listing.entries.emplace_back(name, DT_REG);
}

void HeldFolders::remove_entry(Listing& listing, const std::string& name) {
  std::erase_if(listing.entries, [&](const auto& entry) { return entry.first == name; });
}

void HeldFolders::note_added(std::uint64_t id, const std::string& name,
                             const struct stat* folder_now) {
  Listing* listing = kept_listing(id);
  if (listing == nullptr) return;
  add_entry(*listing, name);
  restamp(*listing, id, folder_now);
}

void HeldFolders::note_removed(std::uint64_t id, const std::string& name) {
  Listing* listing = kept_listing(id);
  if (listing == nullptr) return;
  remove_entry(*listing, name);
  restamp(*listing, id);
}

void HeldFolders::note_renamed(std::uint64_t from_id, const std::string& from,
                               std::uint64_t to_id, const std::string& to) {
  Listing* source = kept_listing(from_id);
  Listing* target = kept_listing(to_id);
  if (source != nullptr) remove_entry(*source, from);
  if (target != nullptr) add_entry(*target, to);
  if (source != nullptr) restamp(*source, from_id);
  if (target != nullptr && target != source) restamp(*target, to_id);
}

}  // namespace mapsweep::os::posix_folders
