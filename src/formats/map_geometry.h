// The lines a map's own geometry draws when seen from above, read from the lumps that hold
// them. The older families keep edges between vertices; IBSP 46 and 47, RBSP and FBSP keep
// surfaces made of triangles or of patch control grids, whose sides are the lines. Only
// the lumps the lines need are read, in pieces, and everything a hostile map could make
// grow is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "formats/byte_source.h"

namespace mapsweep::formats {

// Enough leading bytes of a map to hold the whole lump table of every family (IBSP 38's 19
// lumps after its magic and version are the most).
inline constexpr std::size_t kGeometryHeaderBytes = 8 + 19 * 8;

// At most this many vertices are kept (three floats each, 12 MB): a map with more gets no
// picture. The largest real maps stay well below.
inline constexpr std::size_t kMaxVertices = 1'000'000;
// At most this many lines are drawn per map (8 bytes each): a map with more gets no
// picture. Also bounds the records read one by one (edges, surfaces, triangle corners), so
// that no lump makes the reading work without end.
inline constexpr std::size_t kMaxLines = 1'000'000;
// A coordinate of a vertex that is drawn must lie within this far of the origin: real maps
// stay within a few tens of thousands of units; larger values are damage or hostility.
inline constexpr float kCoordinateLimit = 1'000'000.0f;

struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

// The ranges of the map's bytes the lines are read from: the header (the first
// min(kGeometryHeaderBytes, map_size) bytes) and the geometry's lumps, sorted by offset,
// overlapping or touching ranges joined, empty ones left out. A source that holds just
// these bytes of the map (say, captured while inflating it) draws the same picture as the
// whole map. No value for a map of no known family or whose lumps do not lie within it.
std::optional<std::vector<ByteRange>> layout_lumps(std::string_view first_bytes,
                                                   std::uint64_t map_size);

struct Vertex {
  float x = 0;
  float y = 0;
  float z = 0;
};

// Whether each coordinate is finite and within kCoordinateLimit.
bool within_limits(const Vertex& vertex);

// A line between two of the map's vertices, by their places in `MapLines::vertices`.
struct Line {
  std::uint32_t from = 0;
  std::uint32_t to = 0;
};

struct MapLines {
  std::vector<Vertex> vertices;  // every vertex a line ends at is finite and within limits
  std::vector<Line> lines;       // a line from a vertex to itself is left out
};

// The lines of the map in `map`, or no value when it is of no known family, its geometry is
// damaged or hostile (a lump outside the map or not made of whole records, a vertex number
// out of range, counts that overflow, a drawn vertex not finite or past kCoordinateLimit),
// exceeds the bounds above, or a read fails. A map may have no lines.
std::optional<MapLines> read_map_lines(ByteSource& map);

}  // namespace mapsweep::formats
