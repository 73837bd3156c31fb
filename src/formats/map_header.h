// Where a map keeps its entity text: lump 0, the first (offset, length) pair of the lump
// table. The table follows a 4-byte version or magic, or a 4-byte magic and a 4-byte
// version; offsets count from the map's first byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace mapsweep::formats {

// Enough leading bytes of a map for every layout.
inline constexpr std::size_t kMapHeaderBytes = 16;

struct Lump {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

// The entity lump, or no value when the bytes are no map of a known layout or its entity
// lump does not lie within the map's `map_size` bytes. `first_bytes` are the map's first
// min(kMapHeaderBytes, map_size) bytes (more are ignored).
std::optional<Lump> entity_lump(std::string_view first_bytes, std::uint64_t map_size);

}  // namespace mapsweep::formats
