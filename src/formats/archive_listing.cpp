#include "formats/archive_listing.h"

#include <algorithm>
#include <optional>
#include <string>

#include "formats/pack_directory.h"
#include "formats/zip_directory.h"

namespace mapsweep::formats {
namespace {

// How a listing ends when the reader or the visitor stops it midway, or after the last
// entry when damaged entries were passed over.
ListOutcome finished(bool damaged) {
  return damaged ? ListOutcome::kDamaged : ListOutcome::kWhole;
}

ListOutcome list_pack(MeteredReader& reader, const EntryVisitor& visit) {
  std::string bytes;
  if (reader.size() < kPackHeaderBytes) return ListOutcome::kNotArchive;
  if (!reader.read_at(0, kPackHeaderBytes, bytes)) return ListOutcome::kStopped;
  const PackHeader header = read_pack_header(bytes, reader.size());
  if (header.result == PackHeader::Result::kNotPack) return ListOutcome::kNotArchive;
  if (header.result == PackHeader::Result::kDamaged) return ListOutcome::kDamaged;

  constexpr std::uint64_t kPieceBytes = kPackEntriesPerPiece * kPackEntryBytes;
  bool damaged = false;
  std::uint64_t position = 0;
  for (std::uint64_t done = 0; done < header.place.length; done += kPieceBytes) {
    const auto piece = static_cast<std::size_t>(
        std::min<std::uint64_t>(kPieceBytes, header.place.length - done));
    if (!reader.read_at(header.place.offset + done, piece, bytes)) return ListOutcome::kStopped;
    for (std::size_t at = 0; at < piece; at += kPackEntryBytes, ++position) {
      const PackEntryRead read = read_pack_entry(std::string_view(bytes).substr(at), reader.size());
      if (read.result == PackEntryRead::Result::kOutside) damaged = true;
      if (read.result != PackEntryRead::Result::kRead) continue;
      const ArchiveEntry entry{read.entry.path, position, read.entry.offset, false, false,
                               read.entry.size, read.entry.size};
      if (!visit(entry)) return ListOutcome::kStopped;
    }
  }
  return finished(damaged);
}

enum class ZipPlace { kFound, kNotZip, kDamaged, kStopped };

// A file with no usable end record: a zip cut short (a download that stopped) or one whose
// end record places its directory wrongly is damaged; anything else is some other file.
ZipPlace zip_without_end(MeteredReader& reader, std::string_view tail) {
  if (tail.find("PK\x05\x06") != std::string_view::npos) return ZipPlace::kDamaged;
  std::string start;
  if (reader.size() < 4) return ZipPlace::kNotZip;
  if (!reader.read_at(0, 4, start)) return ZipPlace::kStopped;
  return start == "PK\x03\x04" ? ZipPlace::kDamaged : ZipPlace::kNotZip;
}

// Where the zip directory lies: in the end record, or in the ZIP64 record it points to.
ZipPlace locate_zip_directory(MeteredReader& reader, ZipDirectoryPlace& place) {
  const std::uint64_t size = reader.size();
  const std::uint64_t tail_bytes = std::min<std::uint64_t>(kZipTailBytes, size);
  std::string bytes;
  if (!reader.read_at(size - tail_bytes, static_cast<std::size_t>(tail_bytes), bytes)) {
    return ZipPlace::kStopped;
  }
  const std::optional<ZipEnd> end = locate_zip_end(bytes, size);
  if (!end) return zip_without_end(reader, bytes);
  if (end->directory) {
    place = *end->directory;
    return ZipPlace::kFound;
  }
  if (!reader.read_at(end->zip64_end_offset, kZip64EndBytes, bytes)) return ZipPlace::kStopped;
  const std::optional<ZipDirectoryPlace> zip64 = read_zip64_end(bytes, end->zip64_end_offset);
  if (!zip64) return ZipPlace::kDamaged;
  place = *zip64;
  return ZipPlace::kFound;
}

ListOutcome list_zip(MeteredReader& reader, const EntryVisitor& visit) {
  ZipDirectoryPlace place;
  switch (locate_zip_directory(reader, place)) {
    case ZipPlace::kNotZip:
      return ListOutcome::kNotArchive;
    case ZipPlace::kDamaged:
      return ListOutcome::kDamaged;
    case ZipPlace::kStopped:
      return ListOutcome::kStopped;
    case ZipPlace::kFound:
      break;
  }
  if (place.size > kZipDirectoryLimit) return ListOutcome::kDamaged;

  std::string window;
  std::uint64_t window_at = 0;  // directory offset of the window's first byte
  std::uint64_t at = 0;         // directory offset of the next header
  bool damaged = false;
  for (std::uint64_t position = 0; position < place.entries; ++position) {
    ZipEntry entry;
    ZipHeader header = read_zip_header(std::string_view(window).substr(at - window_at), entry);
    if (header.result == ZipHeader::Result::kCut && window_at + window.size() < place.size) {
      window_at = at;
      const auto count = static_cast<std::size_t>(
          std::min<std::uint64_t>(kZipDirectoryWindow, place.size - at));
      if (!reader.read_at(place.offset + at, count, window)) return ListOutcome::kStopped;
      header = read_zip_header(window, entry);
    }
    // A header cut by the directory's end, or no header where one is due: the directory
    // is not what the end record says, so nothing after this point can be trusted.
    if (header.result == ZipHeader::Result::kCut || header.result == ZipHeader::Result::kBroken) {
      return ListOutcome::kDamaged;
    }
    at += header.length;
    if (header.result == ZipHeader::Result::kRead && !zip_entry_supported(entry)) continue;
    if (header.result == ZipHeader::Result::kUnusable || !zip_entry_fits(entry, reader.size())) {
      damaged = true;
      continue;
    }
    const ArchiveEntry found{entry.name, position, entry.local_header_offset, true,
                             entry.method == kZipDeflated, entry.compressed_size,
                             entry.uncompressed_size};
    if (!visit(found)) return ListOutcome::kStopped;
  }
  return finished(damaged);
}

}  // namespace

ListOutcome list_archive(MeteredReader& reader, ArchiveKind kind, const EntryVisitor& visit) {
  return kind == ArchiveKind::kPack ? list_pack(reader, visit) : list_zip(reader, visit);
}

}  // namespace mapsweep::formats
