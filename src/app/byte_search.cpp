#include "app/byte_search.h"

#include "app/scan_context.h"

namespace mapsweep {
namespace {

ByteString quote(ErrorState& err) {
  return char_string(err, '"');
}

// A marked text: at most this many bytes after its marker.
constexpr std::int32_t kMarkedTextLimit = 40;

}  // namespace

void build_byte_search_state(ErrorState& err, ByteSearchState& search) {
  const ByteString q = quote(err);
  const ByteString quote_space_quote = concat(err, concat(err, q, char_string(err, ' ')), q);
  assign(err, search.next_map_marker, concat(err, ByteString("nextmap"), quote_space_quote));
  err.check_error();
  ByteString world = concat(err, ByteString("classname"), quote_space_quote);
  world = concat(err, world, ByteString("worldspawn"));
  world = concat(err, world, q);
  assign(err, search.world_marker, concat(err, world, char_string(err, 10)));
  err.check_error();
  create_array(err, search.archive_titles, 0, kArrayUpperBound);
  err.check_error();
  assign(err, search.title_marker, concat(err, ByteString("message"), quote_space_quote));
  assign(err, search.map_prefix, ByteString("maps/"));
  assign(err, search.map_suffix, ByteString(".bsp"));
  err.check_error();
}

void release_byte_search_state(ErrorState& err, ByteSearchState& search) {
  for (ByteString* s :
       {&search.next_map_marker, &search.world_marker, &search.title_marker, &search.map_prefix,
        &search.map_suffix, &search.file_name, &search.next_map_text, &search.title,
        &search.empty_title_line, &search.found_name}) {
    ByteString().swap(*s);
  }
  search.chunk.release();
  release_list(search.archive_names);
  release_array(err, search.archive_titles);
}

ByteString text_after_marker(ErrorState& err, const Chunk& chunk, std::int32_t marker_at,
                             const ByteString& marker) {
  const std::int32_t text_at = marker_at + static_cast<std::int32_t>(length_of(marker));
  return text_before(err, substring(err, chunk, text_at, kMarkedTextLimit), quote(err));
}

}  // namespace mapsweep
