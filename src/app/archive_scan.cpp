// The archive scan: reads every "pak*.pak" of the game folder in chunks of 32000 bytes,
// collects map names (map entry extraction) and titles (chunks with the world marker),
// and pairs them by order of discovery when the archive ends. Archives are byte streams,
// never parsed; a failure ends the current archive, which still gets its pairing.
#include "app/scan_context.h"
#include "runtime/directory_search.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

// The title belongs to the world entity when both markers start less than this apart.
constexpr std::int32_t kTitleDistance = 100;

bool title_marker_near_world_marker(const ScanContext& ctx) {
  // Without a title marker there is no title to take, wherever the world marker lies.
  if (ctx.title_position == 0) return false;
  return ctx.title_position < ctx.world_position + kTitleDistance &&
         ctx.world_position < ctx.title_position + kTitleDistance;
}

// Only the first occurrence of each marker counts, so a chunk with several maps' entity
// text yields one title at most.
void examine_world_chunk(ScanContext& ctx) {
  ErrorState& err = ctx.rt.err;
  ctx.world_position = ctx.chunk.markers_known() ? ctx.chunk.first_world()
                                                 : find_from(1, ctx.chunk, ctx.world_marker);
  if (ctx.world_position == 0) return;
  ctx.next_map_position = find_from(1, ctx.chunk, ctx.next_map_marker);
  ctx.title_position = find_from(1, ctx.chunk, ctx.title_marker);
  const bool has_next_map = ctx.next_map_position != 0;
  if (has_next_map) {
    assign(err, ctx.next_map_text,
           text_after_marker(ctx, ctx.next_map_position, ctx.next_map_marker));
    err.check_error();
  }
  if (title_marker_near_world_marker(ctx)) {
    assign(err, ctx.title, text_after_marker(ctx, ctx.title_position, ctx.title_marker));
    err.check_error();
  }
  ++ctx.title_count;
  if (has_next_map) {
    // Written at once; the slot of this chunk keeps whatever title it held.
    write_map_entry_line(ctx, ctx.next_map_text, ctx.title);
  } else {
    assign_element(err, ctx.archive_titles, ctx.title_count, ctx.title);
    err.check_error();
  }
}

// Opens the archive named by the file name and examines it chunk by chunk until its end
// or until a failure ends it.
void read_archive(ScanContext& ctx) {
  ErrorState& err = ctx.rt.err;
  try {
    open_channel(ctx.rt, kDataChannel, ctx.file_name, kBinaryReadMode, kInputBufferLength);
    note_data_file_failure(ctx, ctx.file_name);
    err.check_error();
    for (;;) {
      ctx.chunk.clear();
      const bool at_end_of_archive = at_end(ctx.rt, kDataChannel) != 0;
      err.check_error();
      if (at_end_of_archive) return;
      ctx.chunk.lend(read_block_view(ctx.rt, kDataChannel, kChunkSize));
      note_data_file_failure(ctx, ctx.file_name);
      err.check_error();
      note_bytes_read(ctx, ctx.chunk.size());
      const auto [suffix_at, world_at] =
          find_first_of_each(ctx.chunk, ctx.map_suffix, ctx.world_marker);
      ctx.chunk.note_first_markers(suffix_at, world_at);
      map_entry_extraction(ctx);
      examine_world_chunk(ctx);
    }
  } catch (const Trap& trap) {
    // The bytes were lent by the channel, which the end of the archive closes.
    ctx.chunk.clear();
    rethrow_unless_mine(trap, kArchiveRecovery);
    err.clear_error();
  }
}

// A slot that is already empty needs no store (and an array that never reached it need
// not grow to hold an empty string).
void empty_title_slot(ScanContext& ctx, std::int32_t slot) {
  if (!element(ctx.archive_titles, slot).empty()) {
    assign_element(ctx.rt.err, ctx.archive_titles, slot, ByteString());
  }
}

void empty_title_slot_checked(ScanContext& ctx, std::int32_t slot) {
  empty_title_slot(ctx, slot);
  ctx.rt.err.check_error();
}

// Pairs the k-th name with the k-th title, in slot order, emptying each slot once handled.
// `next_slot` is the first slot not yet handled: the slots before it are empty already,
// so starting again there is the same as starting again at slot 1.
void pair_and_write(ScanContext& ctx, std::int32_t& next_slot) {
  close_channel(ctx.rt, kDataChannel);
  ctx.rt.err.check_error();
  for (; next_slot <= ctx.name_count; ++next_slot) {
    const ByteString& title = element(ctx.archive_titles, next_slot);
    if (!title.empty()) {
      write_map_entry_line(ctx, ByteString(element(ctx.archive_names, next_slot)), title);
    }
    empty_title_slot_checked(ctx, next_slot);
  }
  empty_title_slot_checked(ctx, 1);
  // Titles above the name count stay for the names of a later archive; the names go.
  release_list(ctx.archive_names);
  ctx.name_count = 0;
  ctx.title_count = 0;
}

// Gives up on the pairs not yet written: their titles go, as writing them would have
// emptied them, so that no later archive pairs them with names of its own.
void abandon_pairing(ScanContext& ctx, std::int32_t next_slot) {
  for (; next_slot <= ctx.name_count; ++next_slot) empty_title_slot(ctx, next_slot);
  empty_title_slot(ctx, 1);
  ctx.rt.err.clear_error();
  release_list(ctx.archive_names);
  ctx.name_count = 0;
  ctx.title_count = 0;
}

// The end-of-archive step. A failure in it starts it again, a bounded number of times in
// a row without progress, so a list that cannot be written at all does not stall the run.
void end_archive(ScanContext& ctx) {
  std::int32_t next_slot = 1;
  int retries_left = kEndOfArchiveRetries;
  for (;;) {
    const std::int32_t slot_before = next_slot;
    try {
      pair_and_write(ctx, next_slot);
      return;
    } catch (const Trap& trap) {
      rethrow_unless_mine(trap, kArchiveRecovery);
      ctx.rt.err.clear_error();
    }
    if (next_slot != slot_before) {
      retries_left = kEndOfArchiveRetries;
    } else if (retries_left-- == 0) {
      abandon_pairing(ctx, next_slot);
      return;
    }
  }
}

}  // namespace

void archive_scan(ScanContext& ctx) {
  ErrorState& err = ctx.rt.err;
  err.arm_recovery(kArchiveRecovery);
  // The directory search never fails: it clears the error state whenever it asks the OS.
  assign(err, ctx.file_name, search_first(ctx.rt, ByteString("pak*.pak"), os::kAttributeArchive));
  if (ctx.file_name.empty()) {
    ctx.nothing_found = true;
    return;
  }
  while (!ctx.file_name.empty()) {
    read_archive(ctx);
    end_archive(ctx);
    assign(err, ctx.file_name, search_next(ctx.rt));
  }
}

}  // namespace mapsweep
