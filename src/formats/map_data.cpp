#include "formats/map_data.h"

#include <algorithm>
#include <optional>
#include <string>

#include "formats/bounded_inflate.h"
#include "formats/entity_text.h"
#include "formats/map_header.h"
#include "formats/map_title.h"

namespace mapsweep::formats {
namespace {

MapRead stopped() {
  return MapRead::of(MapOutcome::kStopped);
}

MapRead read_stored_map(MeteredReader& reader, const MapData& data) {
  std::string bytes;
  const auto header_bytes =
      static_cast<std::size_t>(std::min<std::uint64_t>(data.size, kMapHeaderBytes));
  if (!reader.read_at(data.offset, header_bytes, bytes)) return stopped();
  const std::optional<Lump> lump = entity_lump(bytes, data.size);
  if (!lump) return {};
  const std::string_view family = map_family(bytes);
  const auto text_bytes =
      static_cast<std::size_t>(std::min<std::uint64_t>(lump->length, kEntityTextLimit));
  if (!reader.read_at(data.offset + lump->offset, text_bytes, bytes)) return stopped();
  MapRead read = title_of_entity_text(bytes);
  read.family = family;
  return read;
}

// Feeds the next piece of compressed data and charges what it inflated. False when the
// data is used up, a read failed or the budget ran out (`outcome` says which).
bool feed_next_piece(MeteredReader& reader, const MapData& data, BoundedInflate& inflater,
                     std::uint64_t& fed, MapOutcome& outcome) {
  if (fed >= data.stored_size) {
    outcome = MapOutcome::kDamaged;  // the data ends before the map does
    return false;
  }
  const auto piece =
      static_cast<std::size_t>(std::min<std::uint64_t>(kCompressedPiece, data.stored_size - fed));
  std::string compressed;
  if (!reader.read_at(data.offset + fed, piece, compressed)) {
    outcome = MapOutcome::kStopped;
    return false;
  }
  fed += piece;
  const std::uint64_t before = inflater.produced();
  inflater.feed(compressed);
  if (!reader.charge(inflater.produced() - before)) {
    outcome = MapOutcome::kStopped;
    return false;
  }
  return true;
}

// Inflates until the kept part is whole, the data ends or is damaged, starting with what
// the inflater holds from before (input held back, output zlib has not given yet). kTitled
// stands for "carry on".
MapOutcome inflate_kept_part(MeteredReader& reader, const MapData& data,
                             BoundedInflate& inflater, std::uint64_t& fed) {
  const std::uint64_t before = inflater.produced();
  inflater.feed({});
  if (!reader.charge(inflater.produced() - before)) return MapOutcome::kStopped;
  MapOutcome outcome = MapOutcome::kTitled;
  while (inflater.status() == BoundedInflate::Status::kNeedsInput) {
    if (!feed_next_piece(reader, data, inflater, fed, outcome)) return outcome;
  }
  if (inflater.status() == BoundedInflate::Status::kDamaged) return MapOutcome::kDamaged;
  return MapOutcome::kTitled;
}

MapRead read_deflated_map(MeteredReader& reader, const MapData& data) {
  BoundedInflate inflater(std::min(data.size, kInflateLimit));
  std::uint64_t fed = 0;
  inflater.keep(0, kMapHeaderBytes);
  MapOutcome outcome = inflate_kept_part(reader, data, inflater, fed);
  if (outcome != MapOutcome::kTitled) return MapRead::of(outcome);
  if (inflater.kept().size() < std::min(data.size, kMapHeaderBytes)) {
    return MapRead::of(MapOutcome::kDamaged);  // the data ends inside the header it claims
  }
  const std::optional<Lump> lump = entity_lump(inflater.kept(), data.size);
  if (!lump) return {};
  const std::string_view family = map_family(inflater.kept());
  const std::uint64_t text_end = lump->offset + std::min<std::uint64_t>(lump->length, kEntityTextLimit);
  if (text_end > kInflateLimit) return {};  // entity text too far in to be worth inflating
  inflater.keep(lump->offset, text_end);
  outcome = inflate_kept_part(reader, data, inflater, fed);
  if (outcome != MapOutcome::kTitled) return MapRead::of(outcome);
  // Data that ends before the map it claims to hold is damaged, not a short map.
  if (inflater.kept().size() < text_end - lump->offset) return MapRead::of(MapOutcome::kDamaged);
  MapRead read = title_of_entity_text(inflater.kept());
  read.family = family;
  return read;
}

}  // namespace

MapRead title_of_entity_text(std::string_view text) {
  const MapEntities entities = read_map_entities(text);
  if (!entities.playable()) return {};
  MapRead read = MapRead::of(MapOutcome::kTitled);
  read.title = display_title(entities.message);
  read.message = entities.message;
  read.facts = entities.facts;
  read.nextmap = entities.facts.nextmap;
  read.facts.nextmap = {};
  return read;
}

MapRead read_map_data(MeteredReader& reader, const MapData& data) {
  MapRead read = data.deflated ? read_deflated_map(reader, data) : read_stored_map(reader, data);
  read.size = data.size;
  return read;
}

}  // namespace mapsweep::formats
