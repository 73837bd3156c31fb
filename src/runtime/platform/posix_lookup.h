// Looking up the entries of a listed folder on POSIX systems: what each one is, links
// followed, and its Windows attributes, which a directory entry there does not hold.
//
// In a folder of thousands of files these lookups are most of what listing it costs. The
// listing's file types settle which entries a search keeps at once; what only a lookup can
// tell of a plain file, whether it is read-only, is then learnt on a second thread while the
// caller already takes the first entries.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "runtime/platform/os.h"

namespace mapsweep::os::posix_lookup {

// The attributes of an entry that is passed over: a FIFO, a device or a dangling link.
inline constexpr std::uint32_t kPassedOver = 0xFFFFFFFF;

bool has_no_write_bit(const struct stat& st);
std::uint32_t attributes_of(std::string_view name, const struct stat& st);

// Gives every entry its attributes, or kPassedOver. types[i] is the listing's d_type of
// entry i (DT_UNKNOWN when it gave none). An entry that cannot be looked up (the folder may
// be read but not searched, or the entry is gone) keeps what its type tells. In a large
// folder a plain file is kept on its type alone, its read-only bit left for
// learn_read_only_bits.
void look_up_entries(int folder, std::span<FindData> entries, std::span<const unsigned char> types);

// Learns the read-only bit of the entries look_up_entries deferred, on a second thread.
// The entries must stay where they are until it is destroyed, which stops it.
class ReadOnlyBits {
 public:
  explicit ReadOnlyBits(std::span<FindData> entries) : entries_(entries) {}
  ~ReadOnlyBits();
  ReadOnlyBits(const ReadOnlyBits&) = delete;
  ReadOnlyBits& operator=(const ReadOnlyBits&) = delete;

  // Starts the second thread on a descriptor of its own of folder; false when none can be had.
  bool start(int folder);
  // Returns once entries[index] is complete.
  void wait_for(std::size_t index);

 private:
  void run();

  int folder_ = -1;
  std::span<FindData> entries_;
  std::atomic<std::uint32_t> done_{0};  // entries before this one are complete
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Starts learning the deferred bits of entries, or, when there are none or no second thread
// is to be had, completes them here: nullptr then.
std::unique_ptr<ReadOnlyBits> learn_read_only_bits(int folder, std::span<FindData> entries);

}  // namespace mapsweep::os::posix_lookup
