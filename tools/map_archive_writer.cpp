#include "tools/map_archive_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace mapsweep::tools {
namespace {

void append_int32_le(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

std::uint32_t to_uint32(std::size_t value) {
  if (value > 0x7FFFFFFF) throw std::length_error("PACK offsets and lengths are int32");
  return static_cast<std::uint32_t>(value);
}

}  // namespace

void PackBuilder::pad_to(std::size_t at) {
  if (at < data_end()) throw std::invalid_argument("offset lies inside data already placed");
  data_.append(at - data_end(), '\0');
}

std::size_t PackBuilder::add_file(std::string_view name, std::string_view data) {
  return add_file_at(data_end(), name, data);
}

std::size_t PackBuilder::add_file_at(std::size_t at, std::string_view name, std::string_view data) {
  if (name.size() >= kPackNameSize) throw std::invalid_argument("PACK names hold 55 bytes");
  pad_to(at);
  entries_.push_back({std::string(name), to_uint32(at), to_uint32(data.size())});
  data_.append(data);
  return at;
}

void PackBuilder::add_raw_at(std::size_t at, std::string_view bytes) {
  pad_to(at);
  data_.append(bytes);
}

std::string PackBuilder::build() const {
  std::string out = "PACK";
  append_int32_le(out, to_uint32(data_end()));
  append_int32_le(out, to_uint32(entries_.size() * kPackEntrySize));
  out += data_;
  for (const Entry& entry : entries_) {
    std::string name = entry.name;
    name.resize(kPackNameSize, '\0');
    out += name;
    append_int32_le(out, entry.offset);
    append_int32_le(out, entry.length);
  }
  return out;
}

std::string pack_archive(const std::vector<PackFile>& files) {
  PackBuilder builder;
  for (const PackFile& file : files) builder.add_file(file.name, file.data);
  return builder.build();
}

std::string world_entity_text(const WorldEntity& entity) {
  const std::string eol = entity.line_end == LineEnd::kLf ? "\n" : "\r\n";
  std::string text = "{" + eol + "\"classname\" \"worldspawn\"" + eol;
  text += "\"message\" \"" + entity.title + "\"" + eol;
  if (entity.next_map) text += "\"nextmap\" \"" + *entity.next_map + "\"" + eol;
  return text + "}" + eol;
}

std::string map_data(std::size_t size, std::size_t offset, std::string_view text) {
  // A filler without quotes, slashes or dots cannot form a marker or a map path.
  std::string data(size, 'x');
  put_bytes(data, offset, text);
  return data;
}

namespace {

struct MapHeader {
  std::string lead;  // the version or magic words before the lump table
  std::size_t lumps;
};

MapHeader map_header(MapLayout layout) {
  const auto word = [](std::uint32_t value) {
    std::string bytes;
    append_int32_le(bytes, value);
    return bytes;
  };
  switch (layout) {
    case MapLayout::kVersion29:
      return {word(29), 15};
    case MapLayout::kVersion30:
      return {word(30), 15};
    case MapLayout::kBsp2:
      return {"BSP2", 15};
    case MapLayout::kBsp2Reversed:
      return {"2PSB", 15};
    case MapLayout::kIbsp38:
      return {"IBSP" + word(38), 19};
    case MapLayout::kIbsp46:
      return {"IBSP" + word(46), 17};
    case MapLayout::kIbsp47:
      return {"IBSP" + word(47), 18};
    case MapLayout::kRbsp1:
      return {"RBSP" + word(1), 18};
    case MapLayout::kFbsp1:
      return {"FBSP" + word(1), 18};
  }
  throw std::invalid_argument("unknown map layout");
}

}  // namespace

std::string bsp_map(MapLayout layout, std::string_view entity_text, std::size_t total_size,
                    std::size_t text_offset) {
  const MapHeader header = map_header(layout);
  const std::size_t table_end = header.lead.size() + header.lumps * 8;
  if (text_offset == 0) text_offset = table_end;
  const std::size_t lump_length = entity_text.size() + 1;
  std::string map = header.lead;
  append_int32_le(map, to_uint32(text_offset));
  append_int32_le(map, to_uint32(lump_length));
  for (std::size_t i = 1; i < header.lumps; ++i) {
    append_int32_le(map, to_uint32(text_offset + lump_length));
    append_int32_le(map, 0);
  }
  map.resize(std::max(total_size, table_end), 'x');
  put_bytes(map, text_offset, std::string(entity_text) + '\0');
  return map;
}

namespace {

void append_float_le(std::string& out, float value) {
  std::uint32_t bits = 0;
  static_assert(sizeof bits == sizeof value);
  std::memcpy(&bits, &value, sizeof bits);
  append_int32_le(out, bits);
}

void append_vertex(std::string& out, const GeometryVertex& vertex, std::size_t record_size) {
  const std::size_t start = out.size();
  append_float_le(out, vertex.x);
  append_float_le(out, vertex.y);
  append_float_le(out, vertex.z);
  out.resize(start + record_size, '\0');
}

// The lump numbers and record sizes of the geometry of one layout.
struct GeometryLumps {
  std::size_t vertices;
  std::size_t vertex_size;
  std::size_t edges = 0;  // the edge layouts
  std::size_t edge_half = 0;
  std::size_t indexes = 0;  // the surface layouts
  std::size_t surfaces = 0;
  std::size_t surface_size = 0;
  std::size_t patch_size_at = 0;
};

GeometryLumps geometry_lumps(MapLayout layout) {
  switch (layout) {
    case MapLayout::kVersion29:
    case MapLayout::kVersion30:
      return {.vertices = 3, .vertex_size = 12, .edges = 12, .edge_half = 2};
    case MapLayout::kBsp2:
    case MapLayout::kBsp2Reversed:
      return {.vertices = 3, .vertex_size = 12, .edges = 12, .edge_half = 4};
    case MapLayout::kIbsp38:
      return {.vertices = 2, .vertex_size = 12, .edges = 11, .edge_half = 2};
    case MapLayout::kIbsp46:
    case MapLayout::kIbsp47:
      return {.vertices = 10,
              .vertex_size = 44,
              .indexes = 11,
              .surfaces = 13,
              .surface_size = 104,
              .patch_size_at = 96};
    case MapLayout::kRbsp1:
    case MapLayout::kFbsp1:
      return {.vertices = 10,
              .vertex_size = 80,
              .indexes = 11,
              .surfaces = 13,
              .surface_size = 148,
              .patch_size_at = 140};
  }
  throw std::invalid_argument("unknown map layout");
}

std::string edge_lump(const MapGeometry& geometry, std::size_t half) {
  std::string lump;
  for (const GeometryEdge& edge : geometry.edges) {
    for (const std::uint32_t vertex : edge) {
      if (half == 2 && vertex > 0xFFFF) throw std::length_error("edges hold uint16 vertices");
      const std::size_t start = lump.size();
      append_int32_le(lump, vertex);
      lump.resize(start + half);
    }
  }
  return lump;
}

std::string surface_lump(const MapGeometry& geometry, const GeometryLumps& lumps) {
  std::string lump;
  for (const GeometrySurface& surface : geometry.surfaces) {
    std::string record;
    for (const std::int32_t field : {0, -1, surface.type, surface.first_vert, surface.num_verts,
                                     surface.first_index, surface.num_indexes}) {
      append_int32_le(record, static_cast<std::uint32_t>(field));
    }
    record.resize(lumps.patch_size_at, '\0');
    append_int32_le(record, static_cast<std::uint32_t>(surface.patch_width));
    append_int32_le(record, static_cast<std::uint32_t>(surface.patch_height));
    lump += record;
  }
  return lump;
}

}  // namespace

bool layout_keeps_edges(MapLayout layout) {
  return geometry_lumps(layout).edges != 0;
}

MapGeometry line_geometry(MapLayout layout, std::vector<GeometryVertex> vertices,
                          const std::vector<GeometryEdge>& lines) {
  MapGeometry geometry;
  geometry.vertices = std::move(vertices);
  if (layout_keeps_edges(layout)) {
    geometry.edges = lines;
    return geometry;
  }
  for (const GeometryEdge& line : lines) {
    for (const std::uint32_t corner : {line[0], line[1], line[1]}) {
      geometry.indexes.push_back(static_cast<std::int32_t>(corner));
    }
  }
  GeometrySurface soup;
  soup.num_verts = static_cast<std::int32_t>(geometry.vertices.size());
  soup.num_indexes = static_cast<std::int32_t>(geometry.indexes.size());
  geometry.surfaces.push_back(soup);
  return geometry;
}

MapGeometry room_geometry(MapLayout layout) {
  std::vector<GeometryVertex> vertices = {
      {0, 0, 0},       {1024, 0, 0},    {1024, 768, 0},  {0, 768, 0},      // the room
      {384, 256, 128}, {640, 256, 128}, {640, 512, 128}, {384, 512, 128},  // the platform
      {128, 320, 0},   {128, 448, 0}};                                     // the ramp's foot
  std::vector<GeometryEdge> lines = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                     {6, 7}, {7, 4}, {8, 9}, {8, 4}, {9, 7}};
  return line_geometry(layout, std::move(vertices), lines);
}

MapGeometry plan_geometry(MapLayout layout, std::uint32_t seed) {
  std::vector<GeometryVertex> vertices;
  std::vector<GeometryEdge> lines;
  std::uint32_t state = seed * 2654435761u + 1;
  const auto next = [&](std::uint32_t range) {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>((state >> 8) % range);
  };
  // A box's floor and ceiling outlines and its four upright edges; its first vertex.
  const auto box = [&](float x0, float y0, float x1, float y1, float z0, float z1) {
    const auto base = static_cast<std::uint32_t>(vertices.size());
    for (const float z : {z0, z1}) {
      vertices.insert(vertices.end(), {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}});
    }
    for (std::uint32_t side = 0; side < 4; ++side) {
      lines.push_back({base + side, base + (side + 1) % 4});
      lines.push_back({base + 4 + side, base + 4 + (side + 1) % 4});
      lines.push_back({base + side, base + 4 + side});
    }
    return base;
  };
  const int rooms = 3 + static_cast<int>(next(5));
  float x = 0;
  float y = 0;
  std::uint32_t previous = 0;
  for (int room = 0; room < rooms; ++room) {
    const float width = 256 + next(512);
    const float depth = 256 + next(384);
    const float floor = 32 * next(8);
    const std::uint32_t walls = box(x, y, x + width, y + depth, floor, floor + 160);
    // A pillar somewhere inside, and a flight of steps up along the far wall.
    const float pillar_x = x + 64 + next(static_cast<std::uint32_t>(width) - 128);
    const float pillar_y = y + 64 + next(static_cast<std::uint32_t>(depth) - 128);
    box(pillar_x - 24, pillar_y - 24, pillar_x + 24, pillar_y + 24, floor, floor + 192);
    for (int step = 1; step <= 4; ++step) {
      const float step_y = y + depth - 24.0f * static_cast<float>(step);
      const auto at = static_cast<std::uint32_t>(vertices.size());
      const float z = floor + 16.0f * static_cast<float>(step);
      vertices.insert(vertices.end(), {{x + 32, step_y, z}, {x + width / 2, step_y, z}});
      lines.push_back({at, at + 1});
    }
    if (room > 0) {  // a corridor from the room before, along its right wall
      lines.push_back({previous + 1, walls + 0});
      lines.push_back({previous + 2, walls + 3});
    }
    previous = walls;
    x += width + 64 + next(128);
    y += next(384) - 192;
  }
  return line_geometry(layout, std::move(vertices), lines);
}

std::string geometry_map(MapLayout layout, const MapGeometry& geometry,
                         std::string_view entity_text) {
  const MapHeader header = map_header(layout);
  const GeometryLumps lumps = geometry_lumps(layout);
  std::vector<std::string> contents(header.lumps);
  contents[0] = std::string(entity_text) + '\0';
  for (const GeometryVertex& vertex : geometry.vertices) {
    append_vertex(contents[lumps.vertices], vertex, lumps.vertex_size);
  }
  if (lumps.edges != 0) {
    contents[lumps.edges] = edge_lump(geometry, lumps.edge_half);
  } else {
    for (const std::int32_t index : geometry.indexes) {
      append_int32_le(contents[lumps.indexes], static_cast<std::uint32_t>(index));
    }
    contents[lumps.surfaces] = surface_lump(geometry, lumps);
  }
  std::string map = header.lead;
  std::size_t at = header.lead.size() + header.lumps * 8;
  for (const std::string& lump : contents) {
    append_int32_le(map, to_uint32(at));
    append_int32_le(map, to_uint32(lump.size()));
    at += lump.size();
  }
  for (const std::string& lump : contents) map += lump;
  return map;
}

std::size_t lump_entry_offset(MapLayout layout, std::size_t number) {
  return map_header(layout).lead.size() + number * 8;
}

std::string entity_text(const std::vector<EntityPairs>& blocks, LineEnd line_end) {
  const std::string eol = line_end == LineEnd::kLf ? "\n" : "\r\n";
  std::string text;
  for (const EntityPairs& block : blocks) {
    text += "{" + eol;
    for (const auto& [key, value] : block) text += "\"" + key + "\" \"" + value + "\"" + eol;
    text += "}" + eol;
  }
  return text;
}

void put_bytes(std::string& buffer, std::size_t offset, std::string_view bytes) {
  if (buffer.size() < offset + bytes.size()) buffer.resize(offset + bytes.size(), '\0');
  buffer.replace(offset, bytes.size(), bytes);
}

}  // namespace mapsweep::tools
