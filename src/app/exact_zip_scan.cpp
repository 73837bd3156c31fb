// Zip archives (*.pk3) in the exact mode: the central directory, and of every entry that
// is a map only its header and entity text. A deflated map is inflated as a stream as far
// as the end of its entity lump and no further, never past its own size nor a fixed cap,
// so that data which expands without end costs next to nothing; damaged data skips it.
#include <algorithm>

#include "app/exact_maps.h"
#include "app/scan_context.h"
#include "formats/bounded_inflate.h"
#include "formats/map_header.h"
#include "formats/map_path.h"
#include "formats/zip_directory.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

// A directory larger than this is not read: it would cost its size in memory, and no
// game ships one.
constexpr std::uint64_t kZipDirectoryLimit = 64u << 20;
// No entity lump is inflated past this many bytes from its map's start.
constexpr std::uint64_t kInflateLimit = 64u << 20;
// Compressed bytes are read and fed this many at a time: what one piece inflates to past
// the bytes needed is all a deflated map costs beyond them.
constexpr std::int32_t kCompressedPiece = 4096;

ByteString read_at(ScanContext& ctx, std::uint64_t at, std::uint64_t count, bool& failed) {
  ByteString bytes = read_block_at(ctx.rt, kDataChannel, static_cast<std::int64_t>(at),
                                   static_cast<std::int32_t>(count));
  failed = take_data_file_failure(ctx);
  if (!failed) note_bytes_read(ctx, bytes.size());
  return bytes;
}

// The bytes of a deflated map up to the end of its entity text, or nothing when it is no
// map, its data is damaged, or a read failed.
std::optional<std::string> inflate_map_start(ScanContext& ctx, std::uint64_t data_at,
                                             const formats::ZipEntry& entry) {
  formats::BoundedInflate inflater(std::min(entry.uncompressed_size, kInflateLimit));
  bool lump_known = false;
  for (std::uint64_t fed = 0; inflater.status() == formats::BoundedInflate::Status::kNeedsInput;) {
    if (fed >= entry.compressed_size) return std::nullopt;  // the data ends before its end
    const auto piece = std::min<std::uint64_t>(kCompressedPiece, entry.compressed_size - fed);
    bool failed = false;
    const ByteString compressed = read_at(ctx, data_at + fed, piece, failed);
    if (failed || compressed.size() != piece) return std::nullopt;
    fed += piece;
    inflater.feed(compressed);
    if (!lump_known && inflater.output().size() >= formats::kMapHeaderBytes) {
      const auto lump = formats::entity_lump(inflater.output(), entry.uncompressed_size);
      if (!lump) return std::nullopt;
      lump_known = true;
      inflater.lower_limit(lump->offset + std::min<std::uint64_t>(lump->length, kEntityTextLimit));
    }
  }
  if (inflater.status() == formats::BoundedInflate::Status::kDamaged) return std::nullopt;
  return std::string(inflater.output());
}

std::optional<std::string> map_title(ScanContext& ctx, std::uint64_t data_at,
                                     const formats::ZipEntry& entry) {
  if (entry.method == formats::kZipStored) {
    return read_map_title(ctx, static_cast<std::int64_t>(data_at), entry.uncompressed_size);
  }
  const std::optional<std::string> start = inflate_map_start(ctx, data_at, entry);
  if (!start) return std::nullopt;
  return map_title_of(*start, entry.uncompressed_size);
}

// Where the archive's directory lies: in the end record, or in the ZIP64 record it points
// to.
std::optional<formats::ZipDirectoryPlace> directory_place(ScanContext& ctx, std::uint64_t size) {
  const std::uint64_t tail_bytes = std::min<std::uint64_t>(formats::kZipTailBytes, size);
  bool failed = false;
  const ByteString tail = read_at(ctx, size - tail_bytes, tail_bytes, failed);
  if (failed) return std::nullopt;
  const std::optional<formats::ZipEnd> end = formats::locate_zip_end(tail, size);
  if (!end) return std::nullopt;
  if (end->directory) return end->directory;
  const ByteString record = read_at(ctx, end->zip64_end_offset, formats::kZip64EndBytes, failed);
  if (failed) return std::nullopt;
  return formats::read_zip64_end(record, end->zip64_end_offset);
}

}  // namespace

void read_zip_archive(ScanContext& ctx, std::int64_t load_order) {
  Runtime& rt = ctx.rt;
  const std::int64_t length = channel_length(rt, kDataChannel);
  if (take_data_file_failure(ctx)) return;
  const auto size = static_cast<std::uint64_t>(length);
  const std::optional<formats::ZipDirectoryPlace> place = directory_place(ctx, size);
  if (!place || place->size > kZipDirectoryLimit) return;
  bool failed = false;
  const ByteString directory = read_at(ctx, place->offset, place->size, failed);
  if (failed) return;
  const auto entries = formats::read_zip_directory(directory, *place, size);
  if (!entries) return;
  std::int64_t position = 0;
  for (const formats::ZipEntry& entry : *entries) {
    const std::int64_t this_position = position++;
    const std::optional<std::string_view> name = formats::map_name_of_path(entry.name);
    if (!name) continue;
    const ByteString local =
        read_at(ctx, entry.local_header_offset, formats::kZipLocalHeaderBytes, failed);
    if (failed) continue;
    const std::optional<std::uint64_t> data_at = formats::zip_data_offset(local, entry, size);
    if (!data_at) continue;
    std::optional<std::string> title = map_title(ctx, *data_at, entry);
    if (title)
      offer_map(ctx,
                {std::string(*name), std::move(*title), {kFromZip, load_order, -this_position}});
  }
}

}  // namespace mapsweep
