// The map entry extraction: stores every name that stands between "maps/" and ".bsp" in a
// chunk, cut by fixed windows around each suffix. It works on positions in the chunk and
// searches that only move forward, so a chunk full of paths costs linear time.
#include <algorithm>

#include "app/byte_search.h"
#include "app/scan_context.h"

namespace mapsweep {
namespace {

// Bytes before a suffix that the name window holds, and bytes a found name may have.
constexpr std::int32_t kWindowLead = 17;
constexpr std::int32_t kNameLimit = 20;

// The first occurrence of a needle at or after a position. Asked only for positions that
// never go back, so the search resumes where the last one stopped instead of rescanning;
// and not before it is first asked, so a chunk without a suffix is not searched for
// prefixes at all.
class NextOccurrence {
 public:
  NextOccurrence(std::string_view text, std::string_view needle) : text_(text), needle_(needle) {}
  // When the first occurrence in the whole text is known already.
  NextOccurrence(std::string_view text, std::string_view needle, std::int32_t first)
      : text_(text), needle_(needle), found_(first), searched_(true) {}

  // 1-based position, or 0 when none lies at or after `from`.
  std::int32_t at_or_after(std::int32_t from) {
    if (!searched_ || (found_ != 0 && found_ < from)) found_ = find_from(from, text_, needle_);
    searched_ = true;
    return found_;
  }

 private:
  std::string_view text_;
  std::string_view needle_;
  std::int32_t found_ = 0;
  bool searched_ = false;
};

// Re-arms the archive recovery on every way out of the extraction.
class ArchiveRecoveryOnExit {
 public:
  explicit ArchiveRecoveryOnExit(ErrorState& err) : err_(err) {}
  ~ArchiveRecoveryOnExit() { err_.arm_recovery(kArchiveRecovery); }
  ArchiveRecoveryOnExit(const ArchiveRecoveryOnExit&) = delete;
  ArchiveRecoveryOnExit& operator=(const ArchiveRecoveryOnExit&) = delete;

 private:
  ErrorState& err_;
};

void store_found_name(ErrorState& err, ByteSearchState& search) {
  ++search.name_count;
  store_element(err, search.archive_names, search.name_count, search.found_name);
  err.check_error();
}

// The remaining text is the chunk from `start` on; the name window runs from at most 17
// bytes before the first suffix in it to the chunk's end.
void extract_names(ErrorState& err, ByteSearchState& search) {
  const std::string_view chunk = search.chunk;
  const std::int32_t length = static_cast<std::int32_t>(length_of(chunk));
  NextOccurrence suffixes =
      search.chunk.markers_known()
          ? NextOccurrence(chunk, search.map_suffix, search.chunk.first_suffix())
          : NextOccurrence(chunk, search.map_suffix);
  NextOccurrence prefixes(chunk, search.map_prefix);
  std::int32_t start = 1;
  while (start <= length) {
    const std::int32_t suffix_at = suffixes.at_or_after(start);
    if (suffix_at == 0 || prefixes.at_or_after(start) == 0) return;
    const std::int32_t window_start = std::max(start, suffix_at - kWindowLead);
    // The first prefix in the window counts, even one behind the suffix; with none in the
    // window the name is cut from the window's fifth byte on.
    const std::int32_t prefix_at = prefixes.at_or_after(window_start);
    const std::int32_t name_start =
        prefix_at != 0 ? prefix_at + length_of(search.map_prefix) : window_start + 4;
    assign(err, search.found_name,
           text_before(err, substring(err, chunk, name_start, kNameLimit), search.map_suffix));
    err.check_error();
    store_found_name(err, search);
    // The suffix and the one byte behind it (the zero ending a directory path) are skipped.
    start = suffix_at + length_of(search.map_suffix) + 1;
  }
}

}  // namespace

void map_entry_extraction(ErrorState& err, ByteSearchState& search) {
  err.arm_recovery(kGeneralRecovery);
  ArchiveRecoveryOnExit rearm(err);
  try {
    extract_names(err, search);
  } catch (const Trap& trap) {
    rethrow_unless_mine(trap, kGeneralRecovery);
    // Only storage can run out here: the names stored so far stay, the chunk is left.
    err.clear_error();
  }
}

}  // namespace mapsweep
