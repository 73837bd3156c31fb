// Lists the map files lying loose in a game folder's maps sub-folder: one line per chunk
// that holds both the world marker and the title marker, or one empty-title line for a file
// where no chunk does, so that every map file is listed, readable or not.
#include "app/scan_context.h"
#include "runtime/directory_search.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

// A list channel that refuses every write would otherwise repeat the empty-title line
// without end; after this many attempts the file goes unlisted and the scan moves on.
constexpr int kEmptyTitleLineAttempts = 3;

// Stops at the first occurrence; like counting them, finds no empty needle.
bool contains(std::string_view haystack, std::string_view needle) {
  return !needle.empty() && find_from(1, haystack, needle) != 0;
}

// The file name before its first ".", in lower case: DM3.BSP and dm3.bsp are one map.
ByteString map_name_of(ScanContext& ctx) {
  ErrorState& err = ctx.rt.err;
  return to_lower(err, text_before(err, ctx.file_name, ByteString(".")));
}

// Takes the title that follows the chunk's first title marker, wherever the world marker
// lies in the chunk, and lists the map with it.
void list_titled_chunk(ScanContext& ctx) {
  ErrorState& err = ctx.rt.err;
  ctx.title_found = true;
  ctx.title_position = find_from(1, ctx.chunk, ctx.title_marker);
  assign(err, ctx.title, text_after_marker(ctx, ctx.title_position, ctx.title_marker));
  err.check_error();
  write_map_entry_line(ctx, map_name_of(ctx), ctx.title);
}

// Reads the open map file chunk by chunk to its end and closes it. A marker split by a
// chunk border is found in neither chunk.
void scan_chunks(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  for (;;) {
    ctx.chunk.clear();
    const bool done = at_end(rt, kDataChannel) != 0;
    rt.err.check_error();
    if (done) break;
    ctx.chunk.lend(read_block_view(rt, kDataChannel, kChunkSize));
    note_data_file_failure(ctx, ctx.file_name);
    rt.err.check_error();
    note_bytes_read(ctx, ctx.chunk.size());
    if (contains(ctx.chunk, ctx.world_marker) && contains(ctx.chunk, ctx.title_marker)) {
      list_titled_chunk(ctx);
    }
  }
  ctx.chunk.clear();
  close_channel(rt, kDataChannel);
  rt.err.check_error();
}

// The after-file step, also reached through the map-file recovery: a file that yielded no
// titled line is listed with an empty title.
void finish_map_file(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  for (int attempt = 1;; ++attempt) {
    try {
      close_channel(rt, kDataChannel);
      rt.err.check_error();
      if (!ctx.title_found) {
        assign(rt.err, ctx.empty_title_line,
               map_entry_line(rt.err, map_name_of(ctx), ByteString()));
        rt.err.check_error();
        write_list_line(ctx, ctx.empty_title_line);
      }
      break;
    } catch (const Trap& trap) {
      rethrow_unless_mine(trap, kMapFileRecovery);
      if (attempt >= kEmptyTitleLineAttempts) break;
    }
  }
  ctx.title_found = false;
}

void scan_map_file(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  try {
    open_channel(rt, kDataChannel, ctx.file_name, kBinaryReadMode, kInputBufferLength);
    note_data_file_failure(ctx, ctx.file_name);
    rt.err.check_error();
    scan_chunks(ctx);
  } catch (const Trap& trap) {
    // The map-file recovery: the file ends here, as if its end had been reached. The
    // chunk's bytes were lent by the channel, which finishing the file closes.
    ctx.chunk.clear();
    rethrow_unless_mine(trap, kMapFileRecovery);
  }
  finish_map_file(ctx);
}

}  // namespace

// Expects the map-file recovery armed and the current directory to be the maps sub-folder.
void map_file_scan(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  assign(rt.err, ctx.file_name, search_first(rt, ByteString("*.BSP"), os::kAttributeArchive));
  ctx.nothing_found = ctx.file_name.empty();
  while (!ctx.file_name.empty()) {
    scan_map_file(ctx);
    assign(rt.err, ctx.file_name, search_next(rt));
  }
  close_channel(rt, kDataChannel);
  rt.err.check_error();
}

}  // namespace mapsweep
