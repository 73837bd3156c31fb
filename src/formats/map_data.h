// One map's bytes, stored or deflated, read as far as the end of its entity text and no
// further, through a metered reader.
#pragma once

#include <cstdint>

#include "formats/archive_maps.h"
#include "formats/metered_reader.h"

namespace mapsweep::formats {

struct MapData {
  std::uint64_t offset = 0;       // where the map's stored or deflated bytes start
  bool deflated = false;
  std::uint64_t stored_size = 0;  // bytes at `offset`
  std::uint64_t size = 0;         // the map's own bytes
};

MapRead read_map_data(MeteredReader& reader, const MapData& data);

// The title the entity text gives, when it is a map anybody can play.
MapRead title_of_entity_text(std::string_view text);

}  // namespace mapsweep::formats
