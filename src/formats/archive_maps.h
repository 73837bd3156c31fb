// The maps of an archive, or of a lone map file, with their titles: each map's header and
// entity text are read, nothing else. Every byte read and inflated is counted against the
// file's budget, and entries that share their data are read once, so no archive, however
// built, costs more than a small multiple of its own size.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "formats/archive_listing.h"
#include "formats/byte_source.h"
#include "formats/entity_text.h"
#include "formats/layout_picture.h"

namespace mapsweep::formats {

// Entity text beyond this many bytes is not read: real maps hold far less, and a lump that
// claims gigabytes must not cost them. Blocks cut off there count as unfinished.
inline constexpr std::uint64_t kEntityTextLimit = 8u << 20;
// A deflated map is inflated no further than this many bytes from its start; an entity
// lump that lies beyond is not read.
inline constexpr std::uint64_t kInflateLimit = 64u << 20;
// Compressed bytes are read and fed this many at a time: what one piece inflates to past
// the bytes needed is all a deflated map costs beyond them.
inline constexpr std::size_t kCompressedPiece = 4096;

enum class MapOutcome {
  kTitled,       // a map anybody can play; its title is given
  kNoMap,        // no map of a known layout, or a map nobody can play
  kDamaged,      // deflated data that is damaged or ends before the map does, or data
                 // that overlaps another entry's
  kStopped,      // the reader stopped: a read failed or the file's budget ran out
  kNameRefused,  // the name holds a byte no list line can: a control byte, '"' or 0x7F
};

struct MapRead {
  MapOutcome outcome = MapOutcome::kNoMap;
  std::string title;  // for kTitled
  // For kTitled, what a catalogue shows besides the title: worldspawn's raw message, the
  // entity facts (their nextmap view is not kept: `nextmap` owns a copy), the map's own
  // size in bytes and its layout's family (map_family's name; empty when unknown).
  std::string message;
  MapFacts facts;
  std::string nextmap;
  std::uint64_t size = 0;
  std::string_view family;

  static MapRead of(MapOutcome outcome) {
    MapRead read;
    read.outcome = outcome;
    return read;
  }
};

struct ArchivedMap {
  std::string_view path;  // the entry's path; valid during the visit only
  std::string_view name;  // the name a game loads it by, letter case kept
  std::uint64_t position = 0;
  const MapRead* read = nullptr;
  // Where the entry's data starts in the archive: entries that share their data share it.
  std::uint64_t data_start = 0;
  // The map's picture when asked for and one could be drawn; valid during the visit only,
  // and given only with the first entry that reads the data.
  const LayoutPicture* picture = nullptr;
};
using MapVisitor = std::function<void(const ArchivedMap&)>;

enum class ArchiveOutcome {
  kNotArchive,  // no archive of the kind: no maps
  kWhole,       // every map entry was read
  kDamaged,     // the directory or some map's data is damaged (those maps are given as
                // kDamaged); what could be read was
  kReadFailed,  // a read failed: the maps after it were not read
  kOverBudget,  // the archive cost all it may: the maps after that were not read
};

// Offers every entry whose path is a map ("maps/NAME.bsp", any letter case) to `found`, in
// directory order, with what reading it gave.
// With `draw_layouts`, each playable map's picture is drawn too, from a budget of its own.
ArchiveOutcome read_archive_maps(ByteSource& source, ArchiveKind kind, const MapVisitor& found,
                                 bool draw_layouts = false);

// The map that is the whole of `source`; its picture too when `picture` is given.
MapRead read_loose_map(ByteSource& source, std::optional<LayoutPicture>* picture = nullptr);

// Whether a map name can stand in a list line `name "title"` as one line that reads back
// as it was written: no control byte, no '"', no 0x7F.
bool listable_map_name(std::string_view name);

}  // namespace mapsweep::formats
