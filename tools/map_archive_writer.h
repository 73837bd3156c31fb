// Writes PACK archives and the map data inside them, byte for byte, for tests and for the
// sample-tree generator. A PACK archive is a 12-byte header ("PACK", directory offset,
// directory length, both int32 little-endian), the file data, then the directory: 64-byte
// entries of a 56-byte zero-padded name, the data offset and the data length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mapsweep::tools {

inline constexpr std::size_t kPackHeaderSize = 12;
inline constexpr std::size_t kPackEntrySize = 64;
inline constexpr std::size_t kPackNameSize = 56;

// Builds an archive file by file. Data is laid out in the order files are added, right
// after the header, so a test knows the archive offset of every byte it places.
class PackBuilder {
 public:
  // Adds a file; returns the archive offset at which its data starts.
  std::size_t add_file(std::string_view name, std::string_view data);
  // Adds a file whose data starts exactly at archive offset `at` (zero bytes fill the gap,
  // outside any file). `at` must not lie before the end of the data added so far.
  std::size_t add_file_at(std::size_t at, std::string_view name, std::string_view data);
  // Places raw bytes at an exact archive offset, outside any file; the gap before them is
  // zero-filled. `at` must not lie before the end of the data added so far.
  void add_raw_at(std::size_t at, std::string_view bytes);

  // Where the next data would start, and where the directory will start.
  std::size_t data_end() const { return kPackHeaderSize + data_.size(); }
  // The archive offset of the directory entry of the i-th file (its name comes first).
  std::size_t entry_offset(std::size_t index) const { return data_end() + index * kPackEntrySize; }
  // The whole archive: header, data, directory.
  std::string build() const;

 private:
  struct Entry {
    std::string name;
    std::uint32_t offset;
    std::uint32_t length;
  };
  void pad_to(std::size_t at);
  std::string data_;
  std::vector<Entry> entries_;
};

// An archive of these files, data in order, as PackBuilder lays it out.
struct PackFile {
  std::string name;
  std::string data;
};
std::string pack_archive(const std::vector<PackFile>& files);

enum class LineEnd { kLf, kCrLf };

// The world entity of a map's entity text:
//   {<eol>"classname" "worldspawn"<eol>"message" "<title>"<eol>["nextmap" "<name>"<eol>]}<eol>
struct WorldEntity {
  std::string title;
  std::optional<std::string> next_map;
  LineEnd line_end = LineEnd::kLf;
};
std::string world_entity_text(const WorldEntity& entity);

// `size` bytes of map data (filler bytes that hold no marker and no path) with `text`
// placed at `offset`; the data grows when the text would not fit.
std::string map_data(std::size_t size, std::size_t offset, std::string_view text);

// The header layouts of map files: a version number, a magic, or a magic and a version
// before the lump table.
enum class MapLayout {
  kVersion29,
  kVersion30,
  kBsp2,
  kBsp2Reversed,
  kIbsp38,
  kIbsp46,
  kIbsp47,
  kRbsp1,
  kFbsp1,
};
inline constexpr MapLayout kAllMapLayouts[] = {
    MapLayout::kVersion29,    MapLayout::kVersion30, MapLayout::kBsp2,
    MapLayout::kBsp2Reversed, MapLayout::kIbsp38,    MapLayout::kIbsp46,
    MapLayout::kIbsp47,       MapLayout::kRbsp1,     MapLayout::kFbsp1};

// A map file of `total_size` bytes (more when the text does not fit): the layout's header,
// a lump table whose first lump holds `entity_text` and the NUL after it at `text_offset`
// (0: right after the table), the other lumps empty, and filler everywhere else.
std::string bsp_map(MapLayout layout, std::string_view entity_text, std::size_t total_size,
                    std::size_t text_offset = 0);

// Map geometry as the lumps hold it, for the pictures of map layouts. The layouts 29, 30,
// BSP2 (both magics) and IBSP 38 keep vertices and edges between them; IBSP 46 and 47,
// RBSP and FBSP keep vertices, triangle corners (indexes) and the surfaces that use them.
struct GeometryVertex {
  float x = 0;
  float y = 0;
  float z = 0;
};
using GeometryEdge = std::array<std::uint32_t, 2>;
// A surface record's fields as written: nothing is checked, so tests can write hostile ones.
struct GeometrySurface {
  std::int32_t type = 3;  // 1 planar, 2 patch, 3 triangle soup, 4 flare
  std::int32_t first_vert = 0;
  std::int32_t num_verts = 0;
  std::int32_t first_index = 0;
  std::int32_t num_indexes = 0;
  std::int32_t patch_width = 0;
  std::int32_t patch_height = 0;
};
struct MapGeometry {
  std::vector<GeometryVertex> vertices;
  std::vector<GeometryEdge> edges;    // the edge layouts
  std::vector<std::int32_t> indexes;  // the surface layouts, relative to a surface's first vertex
  std::vector<GeometrySurface> surfaces;  // the surface layouts
};

bool layout_keeps_edges(MapLayout layout);

// The lines between `vertices` as the layout keeps them: edges, or one triangle-soup
// surface whose triangles (a, b, b) each draw the line from a to b.
MapGeometry line_geometry(MapLayout layout, std::vector<GeometryVertex> vertices,
                          const std::vector<GeometryEdge>& lines);

// A small recognisable layout: a square room at height 0 with a raised square platform in
// its middle and a ramp up to it, as lines of the layout.
MapGeometry room_geometry(MapLayout layout);

// A floor plan that looks like a map from above: three to seven boxes of rooms at various
// heights in a row, each joined to the one before by a corridor's two walls, placed by a
// small generator from `seed` (the same plan on every machine).
MapGeometry plan_geometry(MapLayout layout, std::uint32_t seed);

// A map of that layout: header, lump table, `entity_text` and its NUL in lump 0, then the
// geometry's lumps, each right after the one before; the other lumps are empty.
std::string geometry_map(MapLayout layout, const MapGeometry& geometry,
                         std::string_view entity_text = "{\n\"classname\" \"worldspawn\"\n}\n");

// Where the lump table entry of lump `number` starts in a map of that layout: its offset,
// then its length, both int32.
std::size_t lump_entry_offset(MapLayout layout, std::size_t number);

// Entity text with these blocks, one "key" "value" pair per line, in the given order:
//   {<eol>"key" "value"<eol>...}<eol>
using EntityPairs = std::vector<std::pair<std::string, std::string>>;
std::string entity_text(const std::vector<EntityPairs>& blocks, LineEnd line_end = LineEnd::kLf);

// Overwrites bytes at an exact offset, growing the buffer with zero bytes when needed.
void put_bytes(std::string& buffer, std::size_t offset, std::string_view bytes);

// The offset at which `text` must start so that its first `bytes_before` bytes lie before
// `border` and the rest from `border` on: how a test splits a marker or a path between
// two chunks.
inline std::size_t straddle_offset(std::size_t border, std::size_t bytes_before) {
  return border - bytes_before;
}

}  // namespace mapsweep::tools
