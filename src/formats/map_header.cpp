#include "formats/map_header.h"

#include "formats/byte_reading.h"

namespace mapsweep::formats {
namespace {

// Where the lump table starts, or 0 for no known layout.
std::size_t lump_table_at(std::string_view bytes) {
  if (bytes.size() < 4) return 0;
  const std::string_view magic = bytes.substr(0, 4);
  const std::int32_t first_word = i32_at(bytes, 0);
  if (first_word == 29 || first_word == 30 || magic == "BSP2" || magic == "2PSB") return 4;
  if (bytes.size() < 8) return 0;
  const std::int32_t version = i32_at(bytes, 4);
  if (magic == "IBSP" && (version == 38 || version == 46 || version == 47)) return 8;
  if ((magic == "RBSP" || magic == "FBSP") && version == 1) return 8;
  return 0;
}

}  // namespace

std::optional<Lump> entity_lump(std::string_view first_bytes, std::uint64_t map_size) {
  const std::size_t table_at = lump_table_at(first_bytes);
  if (table_at == 0 || first_bytes.size() < table_at + 8 || map_size < table_at + 8) {
    return std::nullopt;
  }
  const std::int32_t offset = i32_at(first_bytes, table_at);
  const std::int32_t length = i32_at(first_bytes, table_at + 4);
  if (offset < 0 || length < 0) return std::nullopt;
  const Lump lump{static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length)};
  if (!range_fits(lump.offset, lump.length, map_size)) return std::nullopt;
  return lump;
}

}  // namespace mapsweep::formats
