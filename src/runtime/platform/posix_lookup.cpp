// Looking up a listed folder's entries, on a second thread where the folder is large.
#include "runtime/platform/posix_lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <system_error>

namespace mapsweep::os::posix_lookup {
namespace {

// From this many entries on, lookups are shared with a second thread.
constexpr std::size_t kEntriesForTwoThreads = 4096;
// Marks a plain file whose read-only bit is still to be learnt.
constexpr std::uint32_t kReadOnlyPending = 0x80000000;
// How many completed entries the second thread gathers before it tells the caller: telling
// costs a cache line passed between the processors.
constexpr std::uint32_t kPublishEvery = 64;

bool has_two_processors() {
  static const bool two = std::thread::hardware_concurrency() > 1;
  return two;
}

std::uint32_t hidden_bit(std::string_view name) {
  return !name.empty() && name[0] == '.' ? kAttributeHidden : 0u;
}

// What the listing's type alone tells of an entry: all but the read-only bit for a plain
// file or a folder, too little for anything else.
std::uint32_t attributes_from_type(std::string_view name, unsigned char type) {
  if (type == DT_DIR) return hidden_bit(name) | kAttributeDirectory;
  if (type == DT_REG) return hidden_bit(name) | kAttributeArchive;
  return kPassedOver;
}

void look_up(int folder, FindData& entry, unsigned char type) {
  struct stat st;  // links followed
  if (::fstatat(folder, entry.name.c_str(), &st, 0) != 0) {
    // A folder that may be read but not searched, or an entry gone since the listing: the
    // search answers for the folder as it was listed, as far as the listing tells, the same
    // in a small folder as in a large one.
    entry.attributes = attributes_from_type(entry.name, type);
    return;
  }
  const bool kept = S_ISDIR(st.st_mode) || S_ISREG(st.st_mode);
  entry.attributes = kept ? attributes_of(entry.name, st) : kPassedOver;
}

// Settles an entry from the listing's type where that is enough; false when only a lookup
// can tell (a link, or a system that gave no type).
bool settle_from_type(FindData& entry, unsigned char type, bool defer_read_only) {
  switch (type) {
    case DT_DIR:
      entry.attributes = attributes_from_type(entry.name, type);
      return true;
    case DT_REG:
      if (!defer_read_only) return false;
      entry.attributes = attributes_from_type(entry.name, type) | kReadOnlyPending;
      return true;
    case DT_LNK:
    case DT_UNKNOWN:
      return false;
    default:  // a FIFO, a device or a socket
      entry.attributes = kPassedOver;
      return true;
  }
}

void look_up_each(int folder, std::span<FindData> entries, std::span<const unsigned char> types,
                  std::span<const std::size_t> which) {
  for (const std::size_t i : which) look_up(folder, entries[i], types[i]);
}

bool is_pending(const FindData& entry) {
  return entry.attributes != kPassedOver && (entry.attributes & kReadOnlyPending) != 0;
}

void complete(int folder, FindData& entry) {
  if (!is_pending(entry)) return;
  entry.attributes &= ~kReadOnlyPending;
  // A file that cannot be looked up keeps its place, as in look_up.
  struct stat st;
  if (::fstatat(folder, entry.name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode) &&
      has_no_write_bit(st)) {
    entry.attributes |= kAttributeReadOnly;
  }
}

}  // namespace

bool has_no_write_bit(const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::uint32_t attributes_of(std::string_view name, const struct stat& st) {
  std::uint32_t attributes = hidden_bit(name);
  if (S_ISDIR(st.st_mode)) attributes |= kAttributeDirectory;
  if (S_ISREG(st.st_mode)) {
    attributes |= kAttributeArchive;
    if (has_no_write_bit(st)) attributes |= kAttributeReadOnly;
  }
  return attributes;
}

void look_up_entries(int folder, std::span<FindData> entries,
                     std::span<const unsigned char> types) {
  const bool large = entries.size() >= kEntriesForTwoThreads && has_two_processors();
  std::vector<std::size_t> unsettled;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!settle_from_type(entries[i], types[i], large)) unsettled.push_back(i);
  }
  const std::span<const std::size_t> all(unsettled);
  const std::size_t half = all.size() / 2;
  std::optional<std::thread> helper;
  if (large && all.size() >= kEntriesForTwoThreads) {
    try {
      helper.emplace(look_up_each, folder, entries, types, all.subspan(half));
    } catch (const std::system_error&) {
      // No second thread to be had: this one looks them all up.
    }
  }
  look_up_each(folder, entries, types, helper ? all.first(half) : all);
  if (helper) helper->join();
}

ReadOnlyBits::~ReadOnlyBits() {
  stopping_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
  if (folder_ >= 0) ::close(folder_);
}

bool ReadOnlyBits::start(int folder) {
  if (entries_.size() >= std::numeric_limits<std::uint32_t>::max()) return false;
  folder_ = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (folder_ < 0) return false;
  try {
    thread_ = std::thread(&ReadOnlyBits::run, this);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void ReadOnlyBits::run() {
  const auto count = static_cast<std::uint32_t>(entries_.size());
  for (std::uint32_t i = 0; i < count && !stopping_.load(std::memory_order_relaxed); ++i) {
    complete(folder_, entries_[i]);
    // The first entries are told at once: the caller is waiting for them.
    if (i < kPublishEvery || (i + 1) % kPublishEvery == 0) {
      done_.store(i + 1, std::memory_order_release);
      done_.notify_all();
    }
  }
  done_.store(count, std::memory_order_release);
  done_.notify_all();
}

void ReadOnlyBits::wait_for(std::size_t index) {
  std::uint32_t done = done_.load(std::memory_order_acquire);
  while (done <= index) {
    done_.wait(done, std::memory_order_acquire);
    done = done_.load(std::memory_order_acquire);
  }
}

std::unique_ptr<ReadOnlyBits> learn_read_only_bits(int folder, std::span<FindData> entries) {
  if (std::none_of(entries.begin(), entries.end(), is_pending)) return nullptr;
  auto bits = std::make_unique<ReadOnlyBits>(entries);
  if (bits->start(folder)) return bits;
  // No second thread to be had: the bits are learnt here.
  for (FindData& entry : entries) complete(folder, entry);
  return nullptr;
}

}  // namespace mapsweep::os::posix_lookup
