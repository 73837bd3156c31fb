#include "formats/map_geometry.h"

#include <algorithm>
#include <bit>
#include <string>
#include <utility>

#include "formats/byte_reading.h"
#include "formats/map_header.h"

namespace mapsweep::formats {
namespace {

// The older families' vertices: three float32, nothing else.
constexpr std::size_t kVertexBytes = 12;
// Edges of two uint16 vertex numbers (29, 30, IBSP 38), or of two uint32 (BSP2, made so that
// maps may pass 65536 vertices).
constexpr std::size_t kSmallEdgeBytes = 4;
constexpr std::size_t kLargeEdgeBytes = 8;
// IBSP 46/47 draw vertex: position (12 bytes), texture and lightmap coordinates (16), normal
// (12), colour (4).
constexpr std::size_t kIbspDrawVertexBytes = 44;
// IBSP 46/47 surface: shader, fog, type, first vertex, vertex count, first index, index count,
// lightmap number, lightmap x, y, width, height (12 int32), lightmap origin and three
// vectors (12 float32), patch width and height.
constexpr std::size_t kIbspSurfaceBytes = 104;
constexpr std::size_t kIbspPatchSizeAt = 96;
// RBSP/FBSP draw vertex: position (12), texture coordinates (8), four lightmap coordinate
// pairs (32), normal (12), four colours (16): light styles give up to four lightmaps.
constexpr std::size_t kStyledDrawVertexBytes = 80;
// RBSP/FBSP surface: the seven int32 from shader to index count (28), four lightmap and
// four vertex style bytes (8), four lightmap numbers, four x and four y (48), lightmap
// width and height (8), lightmap origin and three vectors (48), patch width and height (8).
constexpr std::size_t kStyledSurfaceBytes = 148;
constexpr std::size_t kStyledPatchSizeAt = 140;
// Triangle corners: int32, relative to their surface's first vertex.
constexpr std::size_t kIndexBytes = 4;
// Lumps are read in pieces of at most this many bytes, so that memory follows what is kept,
// not the lump's size.
constexpr std::size_t kReadPiece = 64 * 1024;

// The surface types that draw lines; flares and anything else draw none.
constexpr std::int32_t kPlanarSurface = 1;
constexpr std::int32_t kPatchSurface = 2;
constexpr std::int32_t kTriangleSoupSurface = 3;

// Where a family keeps its geometry: lump numbers and record sizes. Edge families have a
// nonzero `edge_bytes`, surface families a nonzero `surface_bytes`.
struct GeometryFormat {
  std::size_t vertices_lump = 0;
  std::size_t vertex_bytes = 0;
  std::size_t edges_lump = 0;
  std::size_t edge_bytes = 0;
  std::size_t indexes_lump = 0;
  std::size_t surfaces_lump = 0;
  std::size_t surface_bytes = 0;
  std::size_t patch_size_at = 0;
};

std::optional<GeometryFormat> geometry_format(std::string_view family) {
  if (family == "29" || family == "30") {
    return GeometryFormat{.vertices_lump = 3,
                          .vertex_bytes = kVertexBytes,
                          .edges_lump = 12,
                          .edge_bytes = kSmallEdgeBytes};
  }
  if (family == "BSP2") {
    return GeometryFormat{.vertices_lump = 3,
                          .vertex_bytes = kVertexBytes,
                          .edges_lump = 12,
                          .edge_bytes = kLargeEdgeBytes};
  }
  if (family == "IBSP38") {
    return GeometryFormat{.vertices_lump = 2,
                          .vertex_bytes = kVertexBytes,
                          .edges_lump = 11,
                          .edge_bytes = kSmallEdgeBytes};
  }
  if (family == "IBSP46" || family == "IBSP47") {
    return GeometryFormat{.vertices_lump = 10,
                          .vertex_bytes = kIbspDrawVertexBytes,
                          .indexes_lump = 11,
                          .surfaces_lump = 13,
                          .surface_bytes = kIbspSurfaceBytes,
                          .patch_size_at = kIbspPatchSizeAt};
  }
  if (family == "RBSP" || family == "FBSP") {
    return GeometryFormat{.vertices_lump = 10,
                          .vertex_bytes = kStyledDrawVertexBytes,
                          .indexes_lump = 11,
                          .surfaces_lump = 13,
                          .surface_bytes = kStyledSurfaceBytes,
                          .patch_size_at = kStyledPatchSizeAt};
  }
  return std::nullopt;
}

// The lumps a family's lines are read from; the unused ones stay empty.
struct GeometryLumps {
  ByteRange vertices;
  ByteRange edges;
  ByteRange indexes;
  ByteRange surfaces;
};

struct LocatedGeometry {
  GeometryFormat format;
  GeometryLumps lumps;
};

// Lump `number` of the table at `table_at`, when its entry lies within the bytes and the
// map and the lump within the map.
std::optional<ByteRange> lump_range(std::string_view header, std::size_t table_at,
                                    std::size_t number, std::uint64_t map_size) {
  const std::size_t entry = table_at + number * 8;
  if (header.size() < entry + 8 || map_size < entry + 8) return std::nullopt;
  const std::int32_t offset = i32_at(header, entry);
  const std::int32_t length = i32_at(header, entry + 4);
  if (offset < 0 || length < 0 || !range_fits(offset, length, map_size)) return std::nullopt;
  return ByteRange{static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(length)};
}

std::optional<LocatedGeometry> locate_geometry(std::string_view header, std::uint64_t map_size) {
  const std::string_view family = map_family(header);
  const std::optional<GeometryFormat> format = geometry_format(family);
  if (!format) return std::nullopt;
  const std::size_t table_at = lump_table_offset(family);
  const auto lump = [&](std::size_t number) {
    return lump_range(header, table_at, number, map_size);
  };
  LocatedGeometry located{*format, {}};
  const auto vertices = lump(format->vertices_lump);
  if (!vertices) return std::nullopt;
  located.lumps.vertices = *vertices;
  if (format->edge_bytes != 0) {
    const auto edges = lump(format->edges_lump);
    if (!edges) return std::nullopt;
    located.lumps.edges = *edges;
    return located;
  }
  const auto indexes = lump(format->indexes_lump);
  const auto surfaces = lump(format->surfaces_lump);
  if (!indexes || !surfaces) return std::nullopt;
  located.lumps.indexes = *indexes;
  located.lumps.surfaces = *surfaces;
  return located;
}

// How many records of `record_bytes` the lump holds, when it holds whole records and no
// more than `limit`.
std::optional<std::size_t> record_count(const ByteRange& lump, std::size_t record_bytes,
                                        std::size_t limit) {
  if (lump.length % record_bytes != 0 || lump.length / record_bytes > limit) return std::nullopt;
  return static_cast<std::size_t>(lump.length / record_bytes);
}

// Hands the lump's records to `visit` one by one, reading them a piece at a time. False
// when a read fails or `visit` refuses a record; the lump holds whole records.
template <typename Visit>
bool for_each_record(ByteSource& map, const ByteRange& lump, std::size_t record_bytes,
                     Visit&& visit) {
  const std::size_t per_piece = kReadPiece / record_bytes * record_bytes;
  std::string piece;
  for (std::uint64_t done = 0; done < lump.length;) {
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(per_piece, lump.length - done));
    if (!map.read(lump.offset + done, count, piece) || piece.size() != count) return false;
    for (std::size_t at = 0; at < count; at += record_bytes) {
      if (!visit(std::string_view(piece).substr(at, record_bytes))) return false;
    }
    done += count;
  }
  return true;
}

float float_at(std::string_view bytes, std::size_t at) {
  return std::bit_cast<float>(u32_at(bytes, at));
}

// The positions of the lump's vertices, which start every record.
std::optional<std::vector<Vertex>> read_vertices(ByteSource& map, const ByteRange& lump,
                                                 std::size_t record_bytes) {
  const std::optional<std::size_t> count = record_count(lump, record_bytes, kMaxVertices);
  if (!count) return std::nullopt;
  std::vector<Vertex> vertices;
  vertices.reserve(*count);
  const bool read = for_each_record(map, lump, record_bytes, [&](std::string_view record) {
    vertices.push_back({float_at(record, 0), float_at(record, 4), float_at(record, 8)});
    return true;
  });
  if (!read) return std::nullopt;
  return vertices;
}

// Collects lines, refusing any that may not be drawn.
class LineCollector {
 public:
  explicit LineCollector(std::vector<Vertex> vertices) : vertices_(std::move(vertices)) {}

  std::size_t vertex_count() const { return vertices_.size(); }

  // False when a vertex number is out of range, a vertex is not finite or past the limits,
  // or the map has more lines than kMaxLines. A line from a vertex to itself is left out
  // but counts towards the limit, so that no map can make the reading work without end.
  bool add(std::uint64_t from, std::uint64_t to) {
    if (from >= vertices_.size() || to >= vertices_.size() || ++attempted_ > kMaxLines) {
      return false;
    }
    if (!within_limits(vertices_[from]) || !within_limits(vertices_[to])) return false;
    if (from != to) {
      lines_.push_back({static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to)});
    }
    return true;
  }

  MapLines take() { return {std::move(vertices_), std::move(lines_)}; }

 private:
  std::vector<Vertex> vertices_;
  std::vector<Line> lines_;
  std::size_t attempted_ = 0;
};

std::optional<MapLines> read_edge_lines(ByteSource& map, const LocatedGeometry& geometry) {
  const GeometryFormat& format = geometry.format;
  auto vertices = read_vertices(map, geometry.lumps.vertices, format.vertex_bytes);
  if (!vertices || !record_count(geometry.lumps.edges, format.edge_bytes, kMaxLines)) {
    return std::nullopt;
  }
  LineCollector lines(std::move(*vertices));
  const std::size_t half = format.edge_bytes / 2;
  const bool read =
      for_each_record(map, geometry.lumps.edges, format.edge_bytes, [&](std::string_view edge) {
        return lines.add(little_endian_at(edge, 0, half), little_endian_at(edge, half, half));
      });
  if (!read) return std::nullopt;
  return lines.take();
}

struct Surface {
  std::int32_t type = 0;
  std::int32_t first_vertex = 0;
  std::int32_t vertex_count = 0;
  std::int32_t first_index = 0;
  std::int32_t index_count = 0;
  std::int32_t patch_width = 0;
  std::int32_t patch_height = 0;
};

Surface surface_of(std::string_view record, std::size_t patch_size_at) {
  // Shader and fog numbers come first; nothing here needs them.
  return {i32_at(record, 8),
          i32_at(record, 12),
          i32_at(record, 16),
          i32_at(record, 20),
          i32_at(record, 24),
          i32_at(record, patch_size_at),
          i32_at(record, patch_size_at + 4)};
}

// Whether [first, first + count) is a range of non-negative numbers within `limit`.
bool span_fits(std::int32_t first, std::int32_t count, std::uint64_t limit) {
  return first >= 0 && count >= 0 &&
         range_fits(static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(count), limit);
}

// The sides of the surface's triangles; each corner is a vertex of the surface's own.
bool add_triangle_lines(const Surface& surface, const std::vector<std::int32_t>& indexes,
                        LineCollector& lines) {
  if (!span_fits(surface.first_index, surface.index_count, indexes.size()) ||
      surface.index_count % 3 != 0) {
    return false;
  }
  const auto corner = [&](std::size_t at) -> std::uint64_t {
    const std::int32_t index = indexes[static_cast<std::size_t>(surface.first_index) + at];
    // Out of the surface's vertices: beyond every vertex, which the collector refuses.
    if (index < 0 || index >= surface.vertex_count) return lines.vertex_count();
    return static_cast<std::uint64_t>(surface.first_vertex) + static_cast<std::uint64_t>(index);
  };
  for (std::size_t at = 0; at < static_cast<std::size_t>(surface.index_count); at += 3) {
    const std::uint64_t a = corner(at), b = corner(at + 1), c = corner(at + 2);
    if (!lines.add(a, b) || !lines.add(b, c) || !lines.add(c, a)) return false;
  }
  return true;
}

// The patch's control grid: its rows and its columns of control points. Walked point by
// point, so that the work follows the points the grid has, which its surface holds, however
// long one side of an empty grid claims to be.
bool add_patch_lines(const Surface& surface, LineCollector& lines) {
  if (surface.patch_width < 0 || surface.patch_height < 0) return false;
  const auto width = static_cast<std::uint64_t>(surface.patch_width);
  const auto height = static_cast<std::uint64_t>(surface.patch_height);
  // Both below 2^31: the product cannot overflow.
  const std::uint64_t points = width * height;
  if (points > static_cast<std::uint64_t>(surface.vertex_count)) return false;
  const auto first = static_cast<std::uint64_t>(surface.first_vertex);
  for (std::uint64_t at = 0; at < points; ++at) {
    const bool last_column = at % width + 1 == width;
    const bool last_row = at / width + 1 == height;
    if (!last_column && !lines.add(first + at, first + at + 1)) return false;
    if (!last_row && !lines.add(first + at, first + at + width)) return false;
  }
  return true;
}

bool add_surface_lines(const Surface& surface, const std::vector<std::int32_t>& indexes,
                       LineCollector& lines) {
  const bool draws = surface.type == kPlanarSurface || surface.type == kTriangleSoupSurface ||
                     surface.type == kPatchSurface;
  if (!draws) return true;
  if (!span_fits(surface.first_vertex, surface.vertex_count, lines.vertex_count())) return false;
  if (surface.type == kPatchSurface) return add_patch_lines(surface, lines);
  return add_triangle_lines(surface, indexes, lines);
}

// The triangle corners. Every corner drawn starts a line, so a map with more than kMaxLines
// of them would pass the line limit anyway.
std::optional<std::vector<std::int32_t>> read_indexes(ByteSource& map, const ByteRange& lump) {
  const std::optional<std::size_t> count = record_count(lump, kIndexBytes, kMaxLines);
  if (!count) return std::nullopt;
  std::vector<std::int32_t> indexes;
  indexes.reserve(*count);
  const bool read = for_each_record(map, lump, kIndexBytes, [&](std::string_view record) {
    indexes.push_back(i32_at(record, 0));
    return true;
  });
  if (!read) return std::nullopt;
  return indexes;
}

std::optional<MapLines> read_surface_lines(ByteSource& map, const LocatedGeometry& geometry) {
  const GeometryFormat& format = geometry.format;
  auto vertices = read_vertices(map, geometry.lumps.vertices, format.vertex_bytes);
  if (!vertices) return std::nullopt;
  const auto indexes = read_indexes(map, geometry.lumps.indexes);
  // Surfaces that draw nothing still cost reading: as many as lines at most.
  if (!indexes || !record_count(geometry.lumps.surfaces, format.surface_bytes, kMaxLines)) {
    return std::nullopt;
  }
  LineCollector lines(std::move(*vertices));
  const bool read = for_each_record(
      map, geometry.lumps.surfaces, format.surface_bytes, [&](std::string_view record) {
        return add_surface_lines(surface_of(record, format.patch_size_at), *indexes, lines);
      });
  if (!read) return std::nullopt;
  return lines.take();
}

// Sorted by offset, overlapping or touching ranges joined.
std::vector<ByteRange> joined(std::vector<ByteRange> ranges) {
  std::erase_if(ranges, [](const ByteRange& range) { return range.length == 0; });
  std::sort(ranges.begin(), ranges.end(),
            [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
  std::vector<ByteRange> out;
  for (const ByteRange& range : ranges) {
    if (!out.empty() && range.offset <= out.back().offset + out.back().length) {
      const std::uint64_t end =
          std::max(out.back().offset + out.back().length, range.offset + range.length);
      out.back().length = end - out.back().offset;
    } else {
      out.push_back(range);
    }
  }
  return out;
}

std::uint64_t header_length(std::uint64_t map_size) {
  return std::min<std::uint64_t>(map_size, kGeometryHeaderBytes);
}

}  // namespace

bool within_limits(const Vertex& vertex) {
  // Written so that NaN fails every comparison and so the test.
  const auto fits = [](float c) { return c >= -kCoordinateLimit && c <= kCoordinateLimit; };
  return fits(vertex.x) && fits(vertex.y) && fits(vertex.z);
}

std::optional<std::vector<ByteRange>> layout_lumps(std::string_view first_bytes,
                                                   std::uint64_t map_size) {
  const std::optional<LocatedGeometry> located = locate_geometry(first_bytes, map_size);
  if (!located) return std::nullopt;
  const GeometryLumps& lumps = located->lumps;
  return joined(
      {{0, header_length(map_size)}, lumps.vertices, lumps.edges, lumps.indexes, lumps.surfaces});
}

std::optional<MapLines> read_map_lines(ByteSource& map) {
  const std::uint64_t map_size = map.size();
  const auto header_bytes = static_cast<std::size_t>(header_length(map_size));
  std::string header;
  if (!map.read(0, header_bytes, header) || header.size() != header_bytes) return std::nullopt;
  const std::optional<LocatedGeometry> located = locate_geometry(header, map_size);
  if (!located) return std::nullopt;
  if (located->format.edge_bytes != 0) return read_edge_lines(map, *located);
  return read_surface_lines(map, *located);
}

}  // namespace mapsweep::formats
