// Names resolved through folders held open. The runtime names files by path, as on Windows,
// with a logical current directory; on POSIX a path looked up again from the root at every
// use would follow whatever a folder's owner has swapped a name for since the run checked
// it, and would cost one lookup per folder on the way each time. So the current directory
// and the folders entered on the way to it are held open, and a name is resolved from the
// deepest held folder its path passes through: a folder the run has entered stays the
// folder it checked, however its name changes meanwhile, and a name in it costs one lookup.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mapsweep::os::posix_folders {

using Components = std::vector<std::string>;
// A folder's entries: name and the type its listing gave (DT_UNKNOWN when it gave none).
using Entries = std::vector<std::pair<std::string, unsigned char>>;
using EntrySink = std::function<void(std::string_view name, unsigned char type)>;

bool is_separator(char c);
// The path's names, separators (either kind) dropped.
Components split_components(std::string_view path);
// "/" and the components joined.
std::string join_components(const Components& parts);

// A descriptor either owned (closed when this goes) or borrowed from the held folders.
class Descriptor {
 public:
  Descriptor() = default;
  Descriptor(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), owned_(std::exchange(other.owned_, false)) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // The descriptor to keep: the owned one itself, a borrowed one duplicated. -1 on failure.
  int release_owned();

 private:
  int fd_ = -1;
  bool owned_ = false;
};

// What the look at a name's exact spelling found, for an open to go on from without looking
// at the same name again.
struct ExactLook {
  bool taken = false;  // the exact name was looked at (lstat) and exists
  // The name was looked at and no entry has it, in any letter case: a look again would
  // only say so again.
  bool missing = false;
  struct stat st {};
};

// A name resolved to where it stands: the folder that holds its last component, open, and
// every component as stored. When a folder on the way could not be opened, `folder` is not
// valid and `error` holds the errno of that failure.
struct Located {
  Components parts;  // empty for the root itself
  Descriptor folder;
  std::uint64_t folder_id = 0;  // the held folder `folder` is, or 0
  int error = 0;
  ExactLook look;

  // The last component: the name to use with `folder` ("." for the root).
  std::string leaf() const { return parts.empty() ? "." : parts.back(); }
  std::string path() const { return join_components(parts); }
};

// A folder opened from a name, links followed, with the components it was reached by.
struct OpenedFolder {
  Components parts;
  Descriptor folder;
  std::uint64_t folder_id = 0;  // the held folder `folder` is, or 0
  int error = 0;  // errno when it could not be opened
  bool failed_at_last = false;  // the folders on the way were there, the last was not
  bool listable = false;        // `folder` was opened here for reading its entries
};

// One entry as a listing gives it: its name and its type (DT_UNKNOWN when it gave none).
struct ListedEntry {
  std::string_view name;
  unsigned char type = DT_UNKNOWN;
};

// Reads a folder's entries, "." and ".." left out. On Linux straight from the kernel, in
// large pieces: the C library's stream would look at the folder and its flags again first,
// three calls more for every folder listed.
class FolderReader {
 public:
  // Reads fd, a folder open for reading (or -1 after a failed open, errno telling why), from
  // where its position stands; closes it when this goes if `owned`.
  explicit FolderReader(int fd, bool owned = true);
  ~FolderReader();
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int error() const { return error_; }
  int descriptor() const { return fd_; }
  // The next entry, or nothing at the end or after a failure (error() tells). Its name
  // lasts until the next call.
  std::optional<ListedEntry> next_entry();

 private:
  bool refill();

  int fd_ = -1;
  bool owned_ = true;
  int error_ = 0;
#ifdef __linux__
  std::unique_ptr<char[]> buffer_;
  std::size_t filled_ = 0;
  std::size_t at_ = 0;
#else
  DIR* dir_ = nullptr;
#endif
};

// The name as stored in the folder open as `folder`: the exact name when it exists, else the
// first name equal but for ASCII case in NTFS order, else the name as given (so it can be
// created). The folder is listed only when the exact name does not exist.
std::string stored_name(int folder, const std::string& name, ExactLook* look = nullptr);
// The same for a name known not to be stored exactly as given: the folder is listed.
std::string stored_variant(int folder, const std::string& name);
// The name as a listing holds it: itself, else its first variant in letter case in NTFS
// order, else as given.
std::string stored_in_listing(const std::vector<std::pair<std::string, unsigned char>>& entries,
                              const std::string& name);

// Opens `name` in the folder open as `at` as a folder to resolve names in (links followed):
// a descriptor, or -1 with errno set. `readable` tells whether it is open for reading its
// entries too.
int open_folder_at(int at, const std::string& name, bool* readable = nullptr,
                   int extra_flags = 0);
// Opens `name` in the folder open as `at` for reading its entries: a descriptor, or -1.
int open_listing_at(int at, const std::string& name, int extra_flags = 0);
// Opens the folder open as `folder` for reading its entries (this takes leave to search it):
// a descriptor, or -1.
int open_for_listing(int folder);

// The current directory and the folders entered on the way to it, held open.
class HeldFolders {
 public:
  // Starts in the process's directory; holds nothing when it cannot be named.
  HeldFolders();
  ~HeldFolders();
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;

  bool has_current() const { return !held_.empty(); }
  // A new call of the caller's begins: within one call a kept listing is looked at once, so
  // that the names a call resolves in one folder are resolved against the folder as it stood
  // at one moment, for one look.
  void begin_call() { ++call_; }
  const Components& current() const { return held_.back().parts; }
  int current_descriptor() const { return held_.back().fd; }
  // Which folder the current directory is: every folder this holds gets a number of its
  // own, so that what was learnt of one is never taken for another's.
  std::uint64_t current_id() const { return held_.back().id; }

  // The name resolved against the current directory; nothing for a relative name when
  // there is none. `look`: the caller will look at the entry (its look is then taken in
  // passing where it can be); otherwise only the stored name is needed.
  std::optional<Located> locate(std::string_view name, bool look = true) const;
  // The name's last component, when the name is that of an entry of the current directory
  // itself; nothing otherwise.
  std::optional<std::string> leaf_in_current(std::string_view name) const;
  // The folder the name leads to, opened (for reading its entries where it need not be
  // searched, when for_listing); nothing for a relative name when there is no current
  // directory.
  std::optional<OpenedFolder> open_folder(std::string_view name, bool for_listing = false) const;
  // The entries of the held folder `id` (name and listed type). A listing is kept, kept
  // current with what this process creates, renames and removes there, and answered again
  // for as long as the folder's times show no change by anyone else; otherwise the folder
  // is listed afresh. Nothing when the folder cannot be listed, or holds too many entries
  // to keep.
  const Entries* listing_of(std::uint64_t id) const;
  // The kept listing of the held folder `id`, while the folder's times show no change
  // since; nothing otherwise. `stamped` tells whether `stamp` then holds the folder's times
  // to list it afresh against.
  const Entries* valid_listing(std::uint64_t id, struct stat& stamp, bool& stamped) const;
  // Lists the held folder `id` afresh, handing every entry to `each`, and keeps the entries
  // (against `stamp`, when given) if they are few. 0, or the errno of a listing that could
  // not be read whole.
  int list_afresh(std::uint64_t id, const struct stat* stamp, const EntrySink& each) const;
  // This process made an entry of that name, a plain file unless `type` says otherwise, in
  // the held folder `id` (0: none held); `folder_now`, when given, is how the folder looked
  // right after.
  void note_added(std::uint64_t id, const std::string& name,
                  const struct stat* folder_now = nullptr, unsigned char type = DT_REG);
  // This process removed the entry of that name from the held folder `id` (0: none held).
  void note_removed(std::uint64_t id, const std::string& name);
  // This process renamed `from` in the held folder `from_id` to `to` in `to_id`.
  void note_renamed(std::uint64_t from_id, const std::string& from, std::uint64_t to_id,
                    const std::string& to);

  // This process has just made the folder `parts`, its last component in the folder open
  // as `parent`. One that lies in a folder the run builds under a temporary name is held
  // open, with the folders made on the way to it, as long as it is the latest made there
  // or on the way to it: the files then made in it need no walk to it, and no listing of
  // it, which are most of what making a small file costs. Only a folder of this process's
  // user that nobody else may write is held; it is the folder made whatever its name
  // leads to later, as the current directory is.
  void hold_made(const Components& parts, int parent);
  // The folder `parts` was removed or moved by this process: it and the folders below it
  // are held no longer.
  void forget_made(const Components& parts);

  // Makes `folder` the current directory, reached by `parts`. The folders held that lead
  // to it stay held; the others are closed. `looked_at`, when given, is how the folder
  // looked when it was opened: its first listing takes its times from there. `readable`:
  // the descriptor is open for reading the folder's entries, which then need no open of
  // their own.
  void enter(Components parts, Descriptor folder, const struct stat* looked_at = nullptr,
             bool readable = false);

 private:
  struct Held {
    Components parts;
    int fd = -1;
    std::uint64_t id = 0;
    mutable std::optional<struct stat> looked_at;  // until its first listing
    bool readable = false;                         // fd lists the folder itself
    mutable bool read_before = false;  // fd's position has moved: rewound before a listing
    // Made by this process, of its user and writable by nobody else: its listing is what
    // this process put there, and is trusted without a look at its times.
    bool exclusive = false;
  };
  struct Listing {
    std::uint64_t id = 0;
    std::vector<std::pair<std::string, unsigned char>> entries;
    // The folder's modification and change times when it was listed (or last changed by
    // this process), and whether they can tell a later change at all.
    timespec modified{};
    timespec changed{};
    bool trusted = false;
    std::uint64_t confirmed_in = 0;  // the call that last read or looked at the folder
  };
  Listing* kept_listing(std::uint64_t id) const;
  // Takes the folder's times after this process changed it (from `now` when given).
  void restamp(Listing& listing, std::uint64_t id, const struct stat* now = nullptr);
  // Drops the name from the listing, or adds it as a plain file; the times left as they are.
  static void remove_entry(Listing& listing, const std::string& name);
  static void add_entry(Listing& listing, const std::string& name, unsigned char type);
  void close_made_back();

  // A reader of the held folder's entries, from its first.
  FolderReader read_held(const Held& held) const;
  std::optional<Components> logical_parts(std::string_view name) const;
  const Held* held_by_id(std::uint64_t id) const;
  void forget_listing(std::uint64_t id) const;
  // The name as stored in a held folder, answered from its listing where there is one.
  std::string stored_in_held(const Held& held, const std::string& name,
                             ExactLook* look = nullptr) const;
  // The deepest held or made folder whose components begin `parts`, at most `limit` of them
  // deep.
  const Held* deepest_held(const Components& parts, std::size_t limit) const;
  // Walks from the deepest held folder (or the root) through parts[0, depth), each opened
  // in turn and stored in `walked` as stored; the folder reached, or an invalid one with
  // `error` set.
  // failed_at: where it stopped, when it could not go on; listable: whether the last folder
  // was opened here for reading (only for reading, when `for_listing`); id: the held folder
  // reached, or 0.
  Descriptor walk(const Components& parts, std::size_t depth, Components& walked, int& error,
                  std::uint64_t& id, std::size_t* failed_at, bool& listable,
                  bool for_listing) const;

  std::vector<Held> held_;  // outermost first; the last is the current directory
  std::vector<Held> made_;  // see hold_made: outermost first, each in the one before
  std::uint64_t next_id_ = 1;
  std::uint64_t call_ = 1;
  mutable std::vector<Listing> listings_;  // the most recently read last
};

}  // namespace mapsweep::os::posix_folders
