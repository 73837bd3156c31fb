// The archive scan: reads every "pak*.pak" of the game folder in chunks of 32000 bytes,
// collects map names (map entry extraction) and titles (chunks with the world marker),
// and pairs them by order of discovery when the archive ends. Archives are byte streams,
// never parsed; a failure ends the current archive, which still gets its pairing.
#include "app/byte_search.h"
#include "app/scan_context.h"
#include "runtime/directory_search.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

// The title belongs to the world entity when both markers start less than this apart.
constexpr std::int32_t kTitleDistance = 100;

bool title_marker_near_world_marker(const ByteSearchState& search) {
  // Without a title marker there is no title to take, wherever the world marker lies.
  if (search.title_position == 0) return false;
  return search.title_position < search.world_position + kTitleDistance &&
         search.world_position < search.title_position + kTitleDistance;
}

// Only the first occurrence of each marker counts, so a chunk with several maps' entity
// text yields one title at most.
void examine_world_chunk(FolderScan& folder, ByteSearchState& search) {
  ErrorState& err = folder.rt.err;
  const Chunk& chunk = search.chunk;
  search.world_position =
      chunk.markers_known() ? chunk.first_world() : find_from(1, chunk, search.world_marker);
  if (search.world_position == 0) return;
  search.next_map_position = find_from(1, chunk, search.next_map_marker);
  search.title_position = find_from(1, chunk, search.title_marker);
  const bool has_next_map = search.next_map_position != 0;
  if (has_next_map) {
    assign(err, search.next_map_text,
           text_after_marker(err, chunk, search.next_map_position, search.next_map_marker));
    err.check_error();
  }
  if (title_marker_near_world_marker(search)) {
    assign(err, search.title,
           text_after_marker(err, chunk, search.title_position, search.title_marker));
    err.check_error();
  }
  ++search.title_count;
  if (has_next_map) {
    // Written at once; the slot of this chunk keeps whatever title it held.
    write_map_entry_line(folder, search.next_map_text, search.title);
  } else {
    assign_element(err, search.archive_titles, search.title_count, search.title);
    err.check_error();
  }
}

// Opens the archive named by the file name and examines it chunk by chunk until its end
// or until a failure ends it.
void read_archive(FolderScan& folder, ByteSearchState& search) {
  Runtime& rt = folder.rt;
  ErrorState& err = rt.err;
  try {
    open_channel(rt, kDataChannel, search.file_name, kBinaryReadMode, kInputBufferLength);
    note_data_file_failure(folder, search.file_name);
    err.check_error();
    for (;;) {
      search.chunk.clear();
      const bool at_end_of_archive = at_end(rt, kDataChannel) != 0;
      err.check_error();
      if (at_end_of_archive) return;
      search.chunk.lend(read_block_view(rt, kDataChannel, kChunkSize));
      note_data_file_failure(folder, search.file_name);
      err.check_error();
      note_bytes_read(folder, search.chunk.size());
      const auto [suffix_at, world_at] =
          find_first_of_each(search.chunk, search.map_suffix, search.world_marker);
      search.chunk.note_first_markers(suffix_at, world_at);
      map_entry_extraction(err, search);
      examine_world_chunk(folder, search);
    }
  } catch (const Trap& trap) {
    // The bytes were lent by the channel, which the end of the archive closes.
    search.chunk.clear();
    rethrow_unless_mine(trap, kArchiveRecovery);
    err.clear_error();
  }
}

// A slot that is already empty needs no store (and an array that never reached it need
// not grow to hold an empty string).
void empty_title_slot(ErrorState& err, ByteSearchState& search, std::int32_t slot) {
  if (!element(search.archive_titles, slot).empty()) {
    assign_element(err, search.archive_titles, slot, ByteString());
  }
}

void empty_title_slot_checked(ErrorState& err, ByteSearchState& search, std::int32_t slot) {
  empty_title_slot(err, search, slot);
  err.check_error();
}

// Pairs the k-th name with the k-th title, in slot order, emptying each slot once handled.
// `next_slot` is the first slot not yet handled: the slots before it are empty already,
// so starting again there is the same as starting again at slot 1.
void pair_and_write(FolderScan& folder, ByteSearchState& search, std::int32_t& next_slot) {
  ErrorState& err = folder.rt.err;
  close_channel(folder.rt, kDataChannel);
  err.check_error();
  for (; next_slot <= search.name_count; ++next_slot) {
    const ByteString& title = element(search.archive_titles, next_slot);
    if (!title.empty()) {
      write_map_entry_line(folder, ByteString(element(search.archive_names, next_slot)), title);
    }
    empty_title_slot_checked(err, search, next_slot);
  }
  empty_title_slot_checked(err, search, 1);
  // Titles above the name count stay for the names of a later archive; the names go.
  release_list(search.archive_names);
  search.name_count = 0;
  search.title_count = 0;
}

// Gives up on the pairs not yet written: their titles go, as writing them would have
// emptied them, so that no later archive pairs them with names of its own.
void abandon_pairing(ErrorState& err, ByteSearchState& search, std::int32_t next_slot) {
  for (; next_slot <= search.name_count; ++next_slot) empty_title_slot(err, search, next_slot);
  empty_title_slot(err, search, 1);
  err.clear_error();
  release_list(search.archive_names);
  search.name_count = 0;
  search.title_count = 0;
}

// The end-of-archive step. A failure in it starts it again, a bounded number of times in
// a row without progress, so a list that cannot be written at all does not stall the run.
void end_archive(FolderScan& folder, ByteSearchState& search) {
  std::int32_t next_slot = 1;
  int retries_left = kEndOfArchiveRetries;
  for (;;) {
    const std::int32_t slot_before = next_slot;
    try {
      pair_and_write(folder, search, next_slot);
      return;
    } catch (const Trap& trap) {
      rethrow_unless_mine(trap, kArchiveRecovery);
      folder.rt.err.clear_error();
    }
    if (next_slot != slot_before) {
      retries_left = kEndOfArchiveRetries;
    } else if (retries_left-- == 0) {
      abandon_pairing(folder.rt.err, search, next_slot);
      return;
    }
  }
}

}  // namespace

void archive_scan(FolderScan& folder, ByteSearchState& search) {
  Runtime& rt = folder.rt;
  rt.err.arm_recovery(kArchiveRecovery);
  // The directory search never fails: it clears the error state whenever it asks the OS.
  assign(rt.err, search.file_name, search_first(rt, ByteString("pak*.pak"), os::kAttributeArchive));
  if (search.file_name.empty()) {
    folder.nothing_found = true;
    return;
  }
  while (!search.file_name.empty()) {
    read_archive(folder, search);
    end_archive(folder, search);
    assign(rt.err, search.file_name, search_next(rt));
  }
}

}  // namespace mapsweep
