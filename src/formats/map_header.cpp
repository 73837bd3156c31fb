#include "formats/map_header.h"

#include "formats/byte_reading.h"

namespace mapsweep::formats {
std::string_view map_family(std::string_view first_bytes) {
  if (first_bytes.size() < 4) return {};
  const std::string_view magic = first_bytes.substr(0, 4);
  const std::int32_t first_word = i32_at(first_bytes, 0);
  if (first_word == 29) return "29";
  if (first_word == 30) return "30";
  if (magic == "BSP2" || magic == "2PSB") return "BSP2";
  if (first_bytes.size() < 8) return {};
  const std::int32_t version = i32_at(first_bytes, 4);
  if (magic == "IBSP" && version == 38) return "IBSP38";
  if (magic == "IBSP" && version == 46) return "IBSP46";
  if (magic == "IBSP" && version == 47) return "IBSP47";
  if (magic == "RBSP" && version == 1) return "RBSP";
  if (magic == "FBSP" && version == 1) return "FBSP";
  return {};
}

std::size_t lump_table_offset(std::string_view family) {
  if (family.empty()) return 0;
  return family == "29" || family == "30" || family == "BSP2" ? 4 : 8;
}

std::optional<Lump> entity_lump(std::string_view first_bytes, std::uint64_t map_size) {
  const std::size_t table_at = lump_table_offset(map_family(first_bytes));
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
