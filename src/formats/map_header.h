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

// The family of map the leading bytes announce: "29", "30" (version numbers), "BSP2" (also
// for the "2PSB" magic, which differs only in its limits), "IBSP38", "IBSP46", "IBSP47",
// "RBSP", "FBSP", or "" when they announce none. The catalogue names a map's family by it.
std::string_view map_family(std::string_view first_bytes);

// Where the lump table of a map of that family starts: after the version word alone (4),
// or after a magic and a version (8); 0 for no family.
std::size_t lump_table_offset(std::string_view family);

// The entity lump, or no value when the bytes are no map of a known layout or its entity
// lump does not lie within the map's `map_size` bytes. `first_bytes` are the map's first
// min(kMapHeaderBytes, map_size) bytes (more are ignored).
std::optional<Lump> entity_lump(std::string_view first_bytes, std::uint64_t map_size);

}  // namespace mapsweep::formats
