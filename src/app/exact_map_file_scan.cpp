// The exact map-file scan: reads of every map file in the maps sub-folder its header and
// entity text, nothing else. A file that is no map, or no map anybody can play, yields
// nothing; one that cannot be opened or read counts as not read (the failure stays on
// record) and yields nothing either.
#include "app/exact_maps.h"
#include "app/scan_context.h"
#include "runtime/directory_search.h"
#include "runtime/file_channels.h"

namespace mapsweep {

void exact_map_file_scan(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  std::int64_t position = 0;
  ByteString file = search_first(rt, ByteString("*.BSP"), os::kAttributeArchive);
  ctx.nothing_found = file.empty();
  for (; !file.empty(); file = search_next(rt), ++position) {
    if (!open_data_file(ctx, file)) continue;
    const std::int64_t size = channel_length(rt, kDataChannel);
    std::optional<std::string> title;
    if (!take_data_file_failure(ctx))
      title = read_map_title(ctx, 0, static_cast<std::uint64_t>(size));
    close_data_file(ctx);
    // The name a game loads: the file's name without its four-byte extension.
    if (title)
      offer_map(ctx,
                {file.substr(0, file.size() - 4), std::move(*title), {kFromMapFile, 0, -position}});
  }
  if (!search_listed_whole(rt)) ctx.incomplete = true;
}

}  // namespace mapsweep
