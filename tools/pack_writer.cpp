#include "tools/pack_writer.h"

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

void put_bytes(std::string& buffer, std::size_t offset, std::string_view bytes) {
  if (buffer.size() < offset + bytes.size()) buffer.resize(offset + bytes.size(), '\0');
  buffer.replace(offset, bytes.size(), bytes);
}

}  // namespace mapsweep::tools
