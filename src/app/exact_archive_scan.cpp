// The exact archive scan: reads each archive's own directory (PACK archives, then zip
// archives) and, of every entry that is a map, only the map's header and entity text.
// Archives are read in the order a game loads them, so that the copy it would load wins.
// An archive that is no archive yields nothing; one that cannot be opened or read counts
// as not read (the failure stays on record).
#include <algorithm>

#include "app/exact_maps.h"
#include "app/scan_context.h"
#include "formats/map_path.h"
#include "formats/pack_directory.h"
#include "runtime/directory_search.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

// A directory is read this many entries at a time, so that a huge one costs no more
// memory than a small one.
constexpr std::uint64_t kDirectoryPiece = 1024 * formats::kPackEntryBytes;

// The names a search of the current folder finds, in the order found. A folder that could
// not be listed whole makes the scan incomplete.
std::vector<ByteString> found_names(ScanContext& ctx, const char* pattern) {
  Runtime& rt = ctx.rt;
  std::vector<ByteString> names;
  for (ByteString name = search_first(rt, ByteString(pattern), os::kAttributeArchive);
       !name.empty(); name = search_next(rt)) {
    names.push_back(std::move(name));
  }
  if (!search_listed_whole(rt)) ctx.incomplete = true;
  return names;
}

void offer_entry(ScanContext& ctx, const formats::PackEntry& entry, MapPrecedence precedence) {
  const std::optional<std::string_view> name = formats::map_name_of_path(entry.path);
  if (!name) return;
  std::optional<std::string> title = read_map_title(ctx, entry.offset, entry.size);
  if (title) offer_map(ctx, {std::string(*name), std::move(*title), precedence});
}

// The PACK archive open on the data channel.
void read_pack(ScanContext& ctx, std::int64_t load_order) {
  Runtime& rt = ctx.rt;
  const std::int64_t size = channel_length(rt, kDataChannel);
  if (take_data_file_failure(ctx)) return;
  const ByteString header = read_block_at(rt, kDataChannel, 0, formats::kPackHeaderBytes);
  if (take_data_file_failure(ctx)) return;
  const std::optional<formats::PackDirectoryPlace> place =
      formats::read_pack_header(header, static_cast<std::uint64_t>(size));
  if (!place) return;
  std::int64_t position = 0;
  for (std::uint64_t done = 0; done < place->length; done += kDirectoryPiece) {
    const auto piece = static_cast<std::int32_t>(std::min(kDirectoryPiece, place->length - done));
    const ByteString directory = read_block_at(rt, kDataChannel, place->offset + done, piece);
    if (take_data_file_failure(ctx)) return;
    const auto entries = formats::read_pack_directory(directory, static_cast<std::uint64_t>(size));
    if (!entries) return;  // cut short: the file shrank since its length was taken
    for (const formats::PackEntry& entry : *entries) {
      offer_entry(ctx, entry, {kFromPack, load_order, -position++});
    }
  }
}

}  // namespace

void exact_archive_scan(ScanContext& ctx) {
  ctx.exact_maps.clear();
  const std::vector<ByteString> packs = found_names(ctx, "pak*.pak");
  const std::vector<std::size_t> order = pack_load_order(packs);
  for (std::size_t loaded = 0; loaded < order.size(); ++loaded) {
    if (!open_data_file(ctx, packs[order[loaded]])) continue;
    read_pack(ctx, static_cast<std::int64_t>(loaded));
    close_data_file(ctx);
  }
  // Zip archives are loaded after every PACK archive, in the order found.
  const std::vector<ByteString> zips = found_names(ctx, "*.pk3");
  for (std::size_t loaded = 0; loaded < zips.size(); ++loaded) {
    if (!open_data_file(ctx, zips[loaded])) continue;
    read_zip_archive(ctx, static_cast<std::int64_t>(loaded));
    close_data_file(ctx);
  }
  ctx.nothing_found = packs.empty() && zips.empty();
}
}  // namespace mapsweep
