// Reading the lines of a map's geometry: every family reads back what the writer put in,
// surfaces draw the sides of their triangles and the grids of their patches, only the
// ranges layout_lumps names are read, and damaged or hostile geometry gives no lines.
#include "formats/map_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/map_archive_writer.h"

namespace mapsweep::formats {
namespace {

using tools::GeometryEdge;
using tools::GeometrySurface;
using tools::GeometryVertex;
using tools::MapGeometry;
using tools::MapLayout;

using LineSet = std::set<std::pair<std::uint32_t, std::uint32_t>>;

LineSet unordered(const std::vector<GeometryEdge>& edges) {
  LineSet set;
  for (const auto& [a, b] : edges) {
    if (a != b) set.insert(std::minmax(a, b));
  }
  return set;
}

std::optional<LineSet> lines_of(const std::string& map) {
  MemorySource source(map);
  const std::optional<MapLines> lines = read_map_lines(source);
  if (!lines) return std::nullopt;
  LineSet set;
  for (const Line& line : lines->lines) set.insert(std::minmax(line.from, line.to));
  return set;
}

std::string with_int32(std::string bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t b = 0; b < 4; ++b) bytes[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
  return bytes;
}

std::uint32_t int32_at(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t b = 4; b-- > 0;)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + b]);
  return value;
}

// A map whose lump `number` has its entry rewritten.
std::string with_lump(const std::string& map, MapLayout layout, std::size_t number,
                      std::uint32_t offset, std::uint32_t length) {
  const std::size_t entry = tools::lump_entry_offset(layout, number);
  return with_int32(with_int32(map, entry, offset), entry + 4, length);
}

// The same map with lump `number` one byte shorter: no longer whole records.
std::string with_lump_cut(const std::string& map, MapLayout layout, std::size_t number) {
  const std::size_t entry = tools::lump_entry_offset(layout, number);
  return with_int32(map, entry + 4, int32_at(map, entry + 4) - 1);
}

constexpr MapLayout kSurfaceLayouts[] = {MapLayout::kIbsp46, MapLayout::kIbsp47, MapLayout::kRbsp1,
                                         MapLayout::kFbsp1};

// A square and its diagonal, between four vertices.
const std::vector<GeometryVertex> kSquare = {{0, 0, 0}, {64, 0, 0}, {64, 64, 8}, {0, 64, 8}};
const std::vector<GeometryEdge> kSquareLines = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 2}};

TEST(MapGeometry, EveryLayoutReadsTheLinesItWasWrittenWith) {
  for (const MapLayout layout : tools::kAllMapLayouts) {
    // The room's lines, as the edges of a family that keeps them list them.
    const LineSet room = unordered(tools::room_geometry(MapLayout::kVersion29).edges);
    EXPECT_EQ(lines_of(tools::geometry_map(layout, tools::room_geometry(layout))), room)
        << static_cast<int>(layout);
    // A map with no lines is read, and has none.
    EXPECT_EQ(lines_of(tools::geometry_map(layout, tools::line_geometry(layout, kSquare, {}))),
              LineSet{});
  }
}

TEST(MapGeometry, SurfacesDrawTriangleSidesAndPatchGrids) {
  MapGeometry geometry;
  for (int i = 0; i < 10; ++i) geometry.vertices.push_back({float(i % 3), float(i / 3), 0});
  geometry.indexes = {0, 1, 2, 2, 1, 0, 1, 1, 0};
  // A planar triangle over vertices 6 to 8 (corners relative to the first), a triangle
  // soup of two triangles over vertices 7 to 9, a 3 x 2 patch over vertices 0 to 5; an empty
  // patch, a flare and an unknown type whose numbers lead nowhere draw nothing.
  geometry.surfaces = {
      {.type = 1, .first_vert = 6, .num_verts = 3, .num_indexes = 3},
      {.type = 3, .first_vert = 7, .num_verts = 3, .first_index = 3, .num_indexes = 6},
      {.type = 2, .first_vert = 0, .num_verts = 6, .patch_width = 3, .patch_height = 2},
      {.type = 2, .patch_width = 0, .patch_height = 0x7FFFFFFF},
      {.type = 4, .first_vert = -9, .num_verts = 1 << 30, .first_index = -1},
      {.type = 7, .first_vert = 99, .num_verts = -1, .num_indexes = 5}};
  const LineSet expected = {{6, 7}, {7, 8}, {6, 8}, {8, 9}, {7, 9},  // triangles
                            {0, 1}, {1, 2}, {3, 4}, {4, 5},          // patch rows
                            {0, 3}, {1, 4}, {2, 5}};                 // patch columns
  for (const MapLayout layout : kSurfaceLayouts) {
    EXPECT_EQ(lines_of(tools::geometry_map(layout, geometry)), expected)
        << static_cast<int>(layout);
  }
}

// Memory that records the ranges read from it.
class RecordingSource final : public ByteSource {
 public:
  explicit RecordingSource(std::string_view bytes) : memory_(bytes) {}
  std::uint64_t size() const override { return memory_.size(); }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override {
    reads.push_back({offset, count});
    return memory_.read(offset, count, into);
  }
  std::vector<ByteRange> reads;

 private:
  MemorySource memory_;
};

TEST(MapGeometry, OnlyTheRangesLayoutLumpsNamesAreRead) {
  for (const MapLayout layout : tools::kAllMapLayouts) {
    SCOPED_TRACE(static_cast<int>(layout));
    // Large enough that lumps take more than one piece.
    MapGeometry geometry;
    std::vector<GeometryEdge> lines;
    for (std::uint32_t i = 0; i < 20000; ++i) {
      geometry.vertices.push_back({float(i % 200), float(i / 200), float(i % 7)});
      lines.push_back({i, (i * 7919 + 1) % 20000});
    }
    const std::string map = tools::geometry_map(
        layout, tools::line_geometry(layout, geometry.vertices, lines), std::string(5000, ' '));
    const auto ranges =
        layout_lumps(std::string_view(map).substr(0, kGeometryHeaderBytes), map.size());
    ASSERT_TRUE(ranges);
    ASSERT_FALSE(ranges->empty());
    EXPECT_EQ(ranges->front(), (ByteRange{0, kGeometryHeaderBytes}));
    for (std::size_t i = 1; i < ranges->size(); ++i) {
      EXPECT_GT((*ranges)[i].offset, (*ranges)[i - 1].offset + (*ranges)[i - 1].length);
    }
    RecordingSource source(map);
    const auto read = read_map_lines(source);
    ASSERT_TRUE(read);
    std::uint64_t bytes_read = 0, bytes_named = 0;
    for (const ByteRange& r : source.reads) {
      bytes_read += r.length;
      EXPECT_LE(r.length, 64u * 1024);
      EXPECT_TRUE(std::any_of(ranges->begin(), ranges->end(),
                              [&](const ByteRange& named) {
                                return r.offset >= named.offset &&
                                       r.offset + r.length <= named.offset + named.length;
                              }))
          << r.offset << "+" << r.length;
    }
    for (const ByteRange& named : *ranges) bytes_named += named.length;
    EXPECT_EQ(bytes_read, bytes_named);
    // Every byte outside the named ranges changed, the lines are the same.
    std::string sparse(map.size(), '\xA5');
    for (const ByteRange& named : *ranges) {
      sparse.replace(named.offset, named.length, map, named.offset, named.length);
    }
    EXPECT_EQ(lines_of(sparse), lines_of(map));
  }
}

// A map refused whole, and whether its lumps at least lie within it.
struct HostileMap {
  std::string name;
  std::string map;
  bool lumps_fit = true;
};

// For the families that keep edges.
std::vector<HostileMap> hostile_edge_maps(MapLayout layout) {
  const std::size_t vertices = layout == MapLayout::kIbsp38 ? 2 : 3;
  const std::size_t edges = layout == MapLayout::kIbsp38 ? 11 : 12;
  const auto map_of = [&](std::vector<GeometryVertex> points, std::vector<GeometryEdge> lines) {
    return tools::geometry_map(layout, tools::line_geometry(layout, std::move(points), lines));
  };
  const std::string good = map_of(kSquare, kSquareLines);
  const std::uint32_t end = static_cast<std::uint32_t>(good.size());
  return {
      {"edge past the vertices", map_of(kSquare, {{0, 1}, {3, 4}})},
      {"edge of a degenerate vertex past the vertices", map_of(kSquare, {{4, 4}})},
      {"vertices lump not whole", with_lump_cut(good, layout, vertices)},
      {"edges lump not whole", with_lump_cut(good, layout, edges)},
      {"vertices past the end", with_lump(good, layout, vertices, end - 8, 12), false},
      {"edges past the end", with_lump(good, layout, edges, end, 4), false},
      {"negative offset", with_lump(good, layout, vertices, 0x80000000u, 12), false},
      {"negative length", with_lump(good, layout, edges, 0, 0xFFFFFFFCu), false},
      {"offset and length overflow", with_lump(good, layout, edges, 0x7FFFFFFF, 0x7FFFFFFF), false},
      {"table cut short", good.substr(0, tools::lump_entry_offset(layout, edges) + 4), false},
  };
}

// For the families that keep surfaces.
std::vector<HostileMap> hostile_surface_maps(MapLayout layout) {
  // More vertices than the surfaces use: a surface must keep to its own.
  MapGeometry base;
  base.vertices = kSquare;
  base.vertices.insert(base.vertices.end(), kSquare.begin(), kSquare.end());
  const GeometrySurface triangle{.type = 3, .num_verts = 4, .num_indexes = 3};
  const auto map_of = [&](GeometrySurface surface, std::vector<std::int32_t> indexes = {0, 1, 2}) {
    MapGeometry geometry = base;
    geometry.indexes = std::move(indexes);
    geometry.surfaces = {triangle, surface};
    return tools::geometry_map(layout, geometry);
  };
  const auto changed = [&](auto change) {
    GeometrySurface surface = triangle;
    change(surface);
    return map_of(surface);
  };
  const std::string good = map_of(triangle);
  const auto end = static_cast<std::uint32_t>(good.size());
  return {
      {"corner past its surface", changed([](auto& s) { s.num_verts = 2; })},
      {"negative corner", map_of(triangle, {0, -1, 2})},
      {"surface past the vertices", changed([](auto& s) { s.first_vert = 5; })},
      {"negative first vertex", changed([](auto& s) { s.first_vert = -1; })},
      {"corners past the indexes", changed([](auto& s) { s.first_index = 1; })},
      {"negative corner count", changed([](auto& s) { s.num_indexes = -3; })},
      {"corners not whole triangles", changed([](auto& s) { s.num_indexes = 2; })},
      {"patch larger than its vertices",
       changed([](auto& s) { s.type = 2, s.patch_width = 3, s.patch_height = 2; })},
      {"patch sizes that overflow", changed([](auto& s) {
         s.type = 2, s.patch_width = 0x7FFFFFFF, s.patch_height = 0x7FFFFFFF;
       })},
      {"negative patch size",
       changed([](auto& s) { s.type = 2, s.patch_width = -1, s.patch_height = -1; })},
      {"vertices lump not whole", with_lump_cut(good, layout, 10)},
      {"indexes lump not whole", with_lump_cut(good, layout, 11)},
      {"surfaces lump not whole", with_lump_cut(good, layout, 13)},
      {"surfaces past the end", with_lump(good, layout, 13, end - 100, 104 * 2), false},
      {"indexes overflow", with_lump(good, layout, 11, 0x7FFFFFFF, 0x7FFFFFFF), false},
  };
}

TEST(MapGeometry, DamagedAndHostileGeometryGivesNoLines) {
  for (const MapLayout layout : tools::kAllMapLayouts) {
    const auto cases = tools::layout_keeps_edges(layout) ? hostile_edge_maps(layout)
                                                         : hostile_surface_maps(layout);
    for (const HostileMap& hostile : cases) {
      EXPECT_FALSE(lines_of(hostile.map)) << static_cast<int>(layout) << ": " << hostile.name;
      const auto ranges =
          layout_lumps(hostile.map.substr(0, kGeometryHeaderBytes), hostile.map.size());
      EXPECT_EQ(ranges.has_value(), hostile.lumps_fit)
          << static_cast<int>(layout) << ": " << hostile.name;
    }
  }
  EXPECT_FALSE(lines_of(std::string(200, '\0')));
  EXPECT_FALSE(layout_lumps(std::string(200, '\0'), 200));
}

TEST(MapGeometry, DrawnVerticesMustBeFiniteAndWithinLimits) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  const float past = std::nextafter(kCoordinateLimit, infinity);
  for (const MapLayout layout : tools::kAllMapLayouts) {
    for (const float bad : {nan, infinity, -infinity, past, -past}) {
      for (int axis = 0; axis < 3; ++axis) {
        std::vector<GeometryVertex> points = kSquare;
        float* coordinates[] = {&points[3].x, &points[3].y, &points[3].z};
        *coordinates[axis] = bad;
        // Unused, the bad vertex harms nothing; used, it costs the map its lines.
        EXPECT_TRUE(
            lines_of(tools::geometry_map(layout, tools::line_geometry(layout, points, {{0, 1}}))));
        EXPECT_FALSE(
            lines_of(tools::geometry_map(layout, tools::line_geometry(layout, points, {{0, 3}}))))
            << static_cast<int>(layout) << " axis " << axis << " value " << bad;
      }
    }
    std::vector<GeometryVertex> edge_of_limits = kSquare;
    edge_of_limits[3] = {kCoordinateLimit, -kCoordinateLimit, kCoordinateLimit};
    EXPECT_TRUE(lines_of(
        tools::geometry_map(layout, tools::line_geometry(layout, edge_of_limits, {{0, 3}}))));
  }
}

TEST(MapGeometry, VerticesAndLinesAreBounded) {
  const MapLayout layout = MapLayout::kBsp2;
  const auto map_of = [&](std::size_t vertices, std::size_t lines, std::uint32_t to) {
    std::vector<GeometryVertex> points(vertices);
    points[1] = {1, 1, 1};
    return tools::geometry_map(
        layout, tools::line_geometry(layout, points, std::vector<GeometryEdge>(lines, {0, to})));
  };
  EXPECT_TRUE(lines_of(map_of(kMaxVertices, 2, 1)));
  EXPECT_FALSE(lines_of(map_of(kMaxVertices + 1, 2, 1)));
  EXPECT_TRUE(lines_of(map_of(2, kMaxLines, 1)));
  EXPECT_FALSE(lines_of(map_of(2, kMaxLines + 1, 1)));
  // Patches of 999 lines each over the same vertices: the lines of all surfaces count.
  MapGeometry geometry;
  for (int i = 0; i < 1000; ++i) geometry.vertices.push_back({float(i), 0, 0});
  const GeometrySurface row{.type = 2, .num_verts = 1000, .patch_width = 1000, .patch_height = 1};
  geometry.surfaces.assign(kMaxLines / 999, row);
  EXPECT_TRUE(lines_of(tools::geometry_map(MapLayout::kIbsp46, geometry)));
  geometry.surfaces.push_back(row);
  EXPECT_FALSE(lines_of(tools::geometry_map(MapLayout::kIbsp46, geometry)));
  // Lines from a vertex to itself are not kept but count: no map buys work without end.
  geometry.indexes.assign(999, 0);
  const GeometrySurface points{.type = 3, .num_verts = 1, .num_indexes = 999};
  geometry.surfaces.assign(kMaxLines / 999, points);
  EXPECT_EQ(lines_of(tools::geometry_map(MapLayout::kIbsp46, geometry)), LineSet{});
  geometry.surfaces.push_back(points);
  EXPECT_FALSE(lines_of(tools::geometry_map(MapLayout::kIbsp46, geometry)));
}

// Memory whose reads fail from the n-th on.
class FailingSource final : public ByteSource {
 public:
  FailingSource(std::string_view bytes, int fail_from) : memory_(bytes), fail_from_(fail_from) {}
  std::uint64_t size() const override { return memory_.size(); }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override {
    return ++reads_ < fail_from_ && memory_.read(offset, count, into);
  }
  int reads() const { return reads_; }

 private:
  MemorySource memory_;
  int fail_from_;
  int reads_ = 0;
};

TEST(MapGeometry, AFailedReadGivesNoLines) {
  for (const MapLayout layout : {MapLayout::kVersion29, MapLayout::kRbsp1}) {
    const std::string map = tools::geometry_map(layout, tools::room_geometry(layout));
    FailingSource whole(map, 1000);
    ASSERT_TRUE(read_map_lines(whole));
    for (int fail_from = 1; fail_from <= whole.reads(); ++fail_from) {
      FailingSource failing(map, fail_from);
      EXPECT_FALSE(read_map_lines(failing)) << fail_from;
    }
  }
}

}  // namespace
}  // namespace mapsweep::formats
