// Keeping a held folder's listing: read once, answered again for as long as the folder's
// times show no change by anyone else, and kept current with what this process changes
// there.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "runtime/platform/posix_folders.h"

namespace mapsweep::os::posix_folders {
namespace {

// The listings kept: the base, a game folder and its maps folder are held at once, and the
// folders made on the way to the one a catalogue adds pictures to.
constexpr std::size_t kKeptListings = 8;
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

}  // namespace

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
  if (kept != nullptr && kept->trusted && (kept->confirmed_in == call_ || held->exclusive)) {
    return &kept->entries;
  }
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
    const bool trusted = held->exclusive || times_can_tell_changes(*stamp);
    listing = Listing{id, {}, stamp->st_mtim, stamp->st_ctim, trusted, call_};
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
  if (held != nullptr && held->exclusive) return;  // its times tell nothing it needs
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

void HeldFolders::add_entry(Listing& listing, const std::string& name, unsigned char type) {
  const bool known = std::any_of(listing.entries.begin(), listing.entries.end(),
                                 [&](const auto& entry) { return entry.first == name; });
  if (!known) listing.entries.emplace_back(name, type);
}

void HeldFolders::remove_entry(Listing& listing, const std::string& name) {
  std::erase_if(listing.entries, [&](const auto& entry) { return entry.first == name; });
}

void HeldFolders::note_added(std::uint64_t id, const std::string& name,
                             const struct stat* folder_now, unsigned char type) {
  Listing* listing = kept_listing(id);
  if (listing == nullptr) return;
  add_entry(*listing, name, type);
  restamp(*listing, id, folder_now);
}

void HeldFolders::note_removed(std::uint64_t id, const std::string& name) {
  Listing* listing = kept_listing(id);
  if (listing == nullptr) return;
  remove_entry(*listing, name);
  restamp(*listing, id);
}

void HeldFolders::note_renamed(std::uint64_t from_id, const std::string& from, std::uint64_t to_id,
                               const std::string& to) {
  Listing* source = kept_listing(from_id);
  Listing* target = kept_listing(to_id);
  if (source != nullptr) remove_entry(*source, from);
  if (target != nullptr) add_entry(*target, to, DT_UNKNOWN);
  if (source != nullptr) restamp(*source, from_id);
  if (target != nullptr && target != source) restamp(*target, to_id);
}

}  // namespace mapsweep::os::posix_folders
