// The catalogue's records packed one after another: the numbers in a fixed order, then each
// string as its length (seven bits a byte, low first, the top bit saying more follow) and
// its bytes.
#include <algorithm>
#include <array>

#include "app/catalog_record.h"

namespace mapsweep {
namespace {

// Records go into chunks of about this many bytes; a larger record gets a chunk of its own.
constexpr std::size_t kChunkBytes = 1u << 20;

void put_number(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>(0x80 | (value & 0x7F)));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

// The record's texts in the order they are packed: one list for packing and unpacking, so
// that the two cannot fall out of step.
template <typename Map>
auto texts_of(Map& map) {
  return std::array{&map.folder,      &map.name,   &map.title,   &map.message, &map.source.archive,
                    &map.source.path, &map.family, &map.nextmap, &map.picture};
}

void put_text(std::string& out, std::string_view text) {
  put_number(out, text.size());
  out += text;
}

std::string packed(const CatalogMap& map) {
  std::string out;
  put_number(out, map.size);
  put_number(out, map.monsters);
  put_number(out, map.secrets);
  put_number(out, (map.modes.single ? 1u : 0u) | (map.modes.coop ? 2u : 0u) |
                      (map.modes.deathmatch ? 4u : 0u) | (map.modes.team ? 8u : 0u));
  for (const std::string* text : texts_of(map)) put_text(out, *text);
  put_number(out, map.shadows.size());
  for (const MapSource& shadow : map.shadows) {
    put_text(out, shadow.archive);
    put_text(out, shadow.path);
  }
  return out;
}

// Reads back what `packed` wrote, from the record's start on.
class Unpacker {
 public:
  explicit Unpacker(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t number() {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      const auto byte = static_cast<unsigned char>(bytes_[at_++]);
      value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
  }
  std::string text() {
    const auto length = static_cast<std::size_t>(number());
    std::string out(bytes_.substr(at_, length));
    at_ += length;
    return out;
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

}  // namespace

CatalogMaps::CatalogMaps(std::initializer_list<CatalogMap> maps) {
  for (const CatalogMap& map : maps) push_back(map);
}

void CatalogMaps::push_back(const CatalogMap& map) {
  const std::string record = packed(map);
  if (chunks_.empty() || chunks_.back().size() + record.size() > kChunkBytes) {
    chunks_.emplace_back();
    chunks_.back().reserve(std::max(kChunkBytes, record.size()));
  }
  places_.push_back({static_cast<std::uint32_t>(chunks_.size() - 1),
                     static_cast<std::uint32_t>(chunks_.back().size())});
  chunks_.back() += record;
}

CatalogMap CatalogMaps::operator[](std::size_t index) const {
  const Place& place = places_[index];
  Unpacker in{std::string_view(chunks_[place.chunk]).substr(place.at)};
  CatalogMap map;
  map.size = in.number();
  map.monsters = static_cast<std::uint32_t>(in.number());
  map.secrets = static_cast<std::uint32_t>(in.number());
  const std::uint64_t modes = in.number();
  map.modes = {(modes & 1) != 0, (modes & 2) != 0, (modes & 4) != 0, (modes & 8) != 0};
  for (std::string* text : texts_of(map)) *text = in.text();
  map.shadows.resize(static_cast<std::size_t>(in.number()));
  for (MapSource& shadow : map.shadows) {
    shadow.archive = in.text();
    shadow.path = in.text();
  }
  return map;
}

}  // namespace mapsweep
