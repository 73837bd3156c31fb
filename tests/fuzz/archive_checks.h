// What the archive fuzz targets hold read_archive_maps and list_archive to, for any bytes
// taken as a PACK or a zip archive.
#pragma once

#include <string_view>

#include "formats/archive_listing.h"

namespace mapsweep::fuzz {

// Reads `file` as an archive of `kind` through the program's readers on memory, several
// times and in several ways, and aborts on any broken promise:
// - the outcome is never kReadFailed (memory never fails a read in range), the bytes read
//   stay within the file's budget, and the listing's reads are charged exactly;
// - every entry's path is bytes of the file as read, every map's name is its path's,
//   positions rise, titles are printable and names refused are exactly the unlistable ones;
// - a second read gives the same maps; a read that fails midway gives kReadFailed and a
//   prefix of those maps;
// - every map path the listing gives is offered when the archive was read to its end;
// - a map read from a stored entry, or from a deflated entry that zlib inflates whole to its
//   stated size, equals read_loose_map on the map's own bytes.
void check_archive(std::string_view file, formats::ArchiveKind kind);

}  // namespace mapsweep::fuzz
