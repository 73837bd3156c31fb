// The byte search, the default way of reading a game folder: archives and map files are
// searched chunk by chunk for map paths and for the markers of the world entity and its
// title, never parsed. What it keeps lives for the whole run: the title taken last carries
// over to the next archive and the next folder, and titles beyond an archive's names wait
// for the names of a later one.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "runtime/byte_string.h"
#include "runtime/error_state.h"
#include "runtime/string_array.h"
#include "runtime/string_list.h"

namespace mapsweep {

struct FolderScan;

inline constexpr std::int32_t kChunkSize = 32000;
// How often the end-of-archive step starts again after failures in a row that finish no
// further slot; then the archive's unwritten pairs are dropped and the next archive runs.
inline constexpr int kEndOfArchiveRetries = 3;

// The chunk being examined: bytes the data channel lends until it reads again, or bytes of
// its own (as a test gives them). The archive scan looks for the first map suffix and the
// first world marker in one pass and notes where they stand, so that nobody reads the
// chunk again to find them.
class Chunk {
 public:
  Chunk& operator=(ByteString bytes) {
    own_ = std::move(bytes);
    view_ = own_;
    markers_known_ = false;
    return *this;
  }
  void lend(std::string_view bytes) {
    own_.clear();
    view_ = bytes;
    markers_known_ = false;
  }
  void clear() { lend({}); }
  void release() {
    ByteString().swap(own_);
    clear();
  }
  operator std::string_view() const { return view_; }
  std::size_t size() const { return view_.size(); }
  bool empty() const { return view_.empty(); }

  // Positions as find_from(1, chunk, marker) gives them.
  void note_first_markers(std::int32_t suffix_at, std::int32_t world_at) {
    markers_known_ = true;
    first_suffix_ = suffix_at;
    first_world_ = world_at;
  }
  bool markers_known() const { return markers_known_; }
  std::int32_t first_suffix() const { return first_suffix_; }
  std::int32_t first_world() const { return first_world_; }

 private:
  ByteString own_;
  std::string_view view_;
  bool markers_known_ = false;
  std::int32_t first_suffix_ = 0;
  std::int32_t first_world_ = 0;
};

// What the byte search keeps of its own, for the whole run.
struct ByteSearchState {
  // Set once at the start of the run.
  ByteString next_map_marker;  // nextmap" "
  ByteString world_marker;     // classname" "worldspawn"<LF>
  ByteString title_marker;     // message" "
  ByteString map_prefix;       // maps/
  ByteString map_suffix;       // .bsp

  // Only ever appended to, and emptied when an archive ends: an archive can hold millions
  // of map paths, each of which costs its bytes plus a few here.
  StringList archive_names;
  StringArray archive_titles;

  // Counts are 32-bit: the arrays grow, so an archive may yield more names than a 16-bit
  // count could hold.
  ByteString file_name;  // the archive or map file being read
  Chunk chunk;
  std::int32_t name_count = 0;
  std::int32_t title_count = 0;
  std::int32_t next_map_position = 0;
  std::int32_t world_position = 0;
  std::int32_t title_position = 0;
  ByteString next_map_text;
  ByteString title;  // the title taken last; never emptied
  bool title_found = false;
  ByteString empty_title_line;  // the line of a map file that yielded no title
  // The name the extraction cut out last. The extraction works on positions in the chunk,
  // so the remaining text and the name window need no fields of their own.
  ByteString found_name;
};

// Builds the markers and the titles array as the start of the run does.
void build_byte_search_state(ErrorState& err, ByteSearchState& search);
// Gives back every string and array of the state.
void release_byte_search_state(ErrorState& err, ByteSearchState& search);

// The scans of a game folder, and the extraction of the map names in a chunk.
void archive_scan(FolderScan& folder, ByteSearchState& search);
void map_entry_extraction(ErrorState& err, ByteSearchState& search);
void map_file_scan(FolderScan& folder, ByteSearchState& search);

// The text right behind a marker that starts at position `marker_at` of the chunk: at most
// 40 bytes, cut before the first double quote, shorter when the chunk ends first.
ByteString text_after_marker(ErrorState& err, const Chunk& chunk, std::int32_t marker_at,
                             const ByteString& marker);

}  // namespace mapsweep
