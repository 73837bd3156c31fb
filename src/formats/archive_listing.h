// The entries of a PACK or zip archive in one shape, read through a metered reader a piece
// of the directory at a time, so that a directory of a million entries costs no more memory
// than one of a thousand, and every byte read is counted against the archive's budget.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "formats/metered_reader.h"

namespace mapsweep::formats {

// A PACK directory is read this many entries at a time.
inline constexpr std::uint64_t kPackEntriesPerPiece = 1024;
// A zip directory is read in windows of this size: one always holds the longest header
// (46 bytes and three 16-bit lengths).
inline constexpr std::uint64_t kZipDirectoryWindow = 256u << 10;
// A zip directory claiming more than this is taken for damage: no game ships one, and
// reading it would cost its size.
inline constexpr std::uint64_t kZipDirectoryLimit = 64u << 20;

enum class ArchiveKind { kPack, kZip };

struct ArchiveEntry {
  std::string_view path;    // valid during the visit only
  std::uint64_t position = 0;  // the entry's place in the directory, from 0
  // PACK: where the data starts. Zip: where the local header starts; the data follows it.
  std::uint64_t offset = 0;
  bool local_header = false;
  bool deflated = false;
  std::uint64_t stored_size = 0;  // the data's bytes in the archive
  std::uint64_t size = 0;         // the bytes it holds
};

enum class ListOutcome {
  kNotArchive,  // not an archive of the kind at all: it holds no maps
  kWhole,       // every entry was visited
  kDamaged,     // a directory cut short, claiming an absurd length, or entries pointing
                // outside the file: what could be read was visited, the rest was not
  kStopped,     // the reader stopped (a read failed, or the budget ran out) or the
                // visitor asked to stop
};

// Called for each usable entry in directory order; returns false to stop the listing.
using EntryVisitor = std::function<bool(const ArchiveEntry&)>;

ListOutcome list_archive(MeteredReader& reader, ArchiveKind kind, const EntryVisitor& visit);

}  // namespace mapsweep::formats
