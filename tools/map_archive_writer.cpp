#include "tools/map_archive_writer.h"

#include <algorithm>
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
