// Lists the map files lying loose in a game folder's maps sub-folder: one line per chunk
// that holds both the world marker and the title marker, or one empty-title line for a file
// where no chunk does, so that every map file is listed, readable or not.
#include "app/byte_search.h"
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
ByteString map_name_of(ErrorState& err, const ByteSearchState& search) {
  return to_lower(err, text_before(err, search.file_name, ByteString(".")));
}

// Takes the title that follows the chunk's first title marker, wherever the world marker
// lies in the chunk, and lists the map with it.
void list_titled_chunk(FolderScan& folder, ByteSearchState& search) {
  ErrorState& err = folder.rt.err;
  search.title_found = true;
  search.title_position = find_from(1, search.chunk, search.title_marker);
  assign(err, search.title,
         text_after_marker(err, search.chunk, search.title_position, search.title_marker));
  err.check_error();
  write_map_entry_line(folder, map_name_of(err, search), search.title);
}

// Reads the open map file chunk by chunk to its end and closes it. A marker split by a
// chunk border is found in neither chunk.
void scan_chunks(FolderScan& folder, ByteSearchState& search) {
  Runtime& rt = folder.rt;
  for (;;) {
    search.chunk.clear();
    const bool done = at_end(rt, kDataChannel) != 0;
    rt.err.check_error();
    if (done) break;
    search.chunk.lend(read_block_view(rt, kDataChannel, kChunkSize));
    note_data_file_failure(folder, search.file_name);
    rt.err.check_error();
    note_bytes_read(folder, search.chunk.size());
    if (contains(search.chunk, search.world_marker) &&
        contains(search.chunk, search.title_marker)) {
      list_titled_chunk(folder, search);
    }
  }
  search.chunk.clear();
  close_channel(rt, kDataChannel);
  rt.err.check_error();
}

// The after-file step, also reached through the map-file recovery: a file that yielded no
// titled line is listed with an empty title.
void finish_map_file(FolderScan& folder, ByteSearchState& search) {
  Runtime& rt = folder.rt;
  for (int attempt = 1;; ++attempt) {
    try {
      close_channel(rt, kDataChannel);
      rt.err.check_error();
      if (!search.title_found) {
        assign(rt.err, search.empty_title_line,
               map_entry_line(rt.err, map_name_of(rt.err, search), ByteString()));
        rt.err.check_error();
        write_list_line(folder, search.empty_title_line);
      }
      break;
    } catch (const Trap& trap) {
      rethrow_unless_mine(trap, kMapFileRecovery);
      if (attempt >= kEmptyTitleLineAttempts) break;
    }
  }
  search.title_found = false;
}

void scan_map_file(FolderScan& folder, ByteSearchState& search) {
  Runtime& rt = folder.rt;
  try {
    open_channel(rt, kDataChannel, search.file_name, kBinaryReadMode, kInputBufferLength);
    note_data_file_failure(folder, search.file_name);
    rt.err.check_error();
    scan_chunks(folder, search);
  } catch (const Trap& trap) {
    // The map-file recovery: the file ends here, as if its end had been reached. The
    // chunk's bytes were lent by the channel, which finishing the file closes.
    search.chunk.clear();
    rethrow_unless_mine(trap, kMapFileRecovery);
  }
  finish_map_file(folder, search);
}

}  // namespace

// Expects the current directory to be the maps sub-folder. Arms the map-file recovery, which
// the scan of each file owns.
void map_file_scan(FolderScan& folder, ByteSearchState& search) {
  Runtime& rt = folder.rt;
  rt.err.arm_recovery(kMapFileRecovery);
  assign(rt.err, search.file_name, search_first(rt, ByteString("*.BSP"), os::kAttributeArchive));
  folder.nothing_found = search.file_name.empty();
  while (!search.file_name.empty()) {
    scan_map_file(folder, search);
    assign(rt.err, search.file_name, search_next(rt));
  }
  close_channel(rt, kDataChannel);
  rt.err.check_error();
}

}  // namespace mapsweep
