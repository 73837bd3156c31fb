#include "formats/archive_maps.h"

#include <iterator>
#include <map>
#include <optional>

#include "formats/map_data.h"
#include "formats/map_layout_data.h"
#include "formats/map_path.h"
#include "formats/zip_directory.h"

namespace mapsweep::formats {
namespace {

// What has been read of an archive's map data, by where the data starts: entries that
// share their data take what the first one gave instead of reading it again, and an entry
// whose data overlaps another's without being the same is damage, never read.
class SharedData {
 public:
  struct Range {
    std::uint64_t end = 0;
    MapData data;
    MapRead read;
  };

  // The earlier read of exactly this data; nullptr when there is none.
  const MapRead* same(std::uint64_t start, const MapData& data) const {
    const auto found = ranges_.find(start);
    if (found == ranges_.end()) return nullptr;
    const MapData& known = found->second.data;
    const bool same_data = known.deflated == data.deflated &&
                           known.stored_size == data.stored_size && known.size == data.size;
    return same_data ? &found->second.read : nullptr;
  }

  // Whether [start, end) overlaps data read before (a shared start counts).
  bool overlaps(std::uint64_t start, std::uint64_t end) const {
    auto next = ranges_.lower_bound(start);
    if (next != ranges_.end() && (next->first == start || next->first < end)) return true;
    if (next == ranges_.begin()) return false;
    return std::prev(next)->second.end > start;
  }

  const MapRead& remember(std::uint64_t start, std::uint64_t end, const MapData& data,
                          MapRead read) {
    Range& range = ranges_[start];
    range = Range{end, data, std::move(read)};
    return range.read;
  }

 private:
  std::map<std::uint64_t, Range> ranges_;
};

// Where a zip entry's data starts, from its local header; no value when the header is no
// local header or the data would not lie within the file.
std::optional<std::uint64_t> zip_data_start(MeteredReader& reader, const ArchiveEntry& entry,
                                            bool& stopped) {
  std::string local;
  stopped = !reader.read_at(entry.offset, kZipLocalHeaderBytes, local);
  if (stopped) return std::nullopt;
  ZipEntry zip;
  zip.local_header_offset = entry.offset;
  zip.compressed_size = entry.stored_size;
  return zip_data_offset(local, zip, reader.size());
}

MapRead read_entry(MeteredReader& reader, const ArchiveEntry& entry, MapData& data) {
  data = MapData{entry.offset, entry.deflated, entry.stored_size, entry.size};
  if (entry.local_header) {
    bool stopped = false;
    const std::optional<std::uint64_t> start = zip_data_start(reader, entry, stopped);
    if (stopped) return MapRead::of(MapOutcome::kStopped);
    if (!start) return MapRead::of(MapOutcome::kDamaged);
    data.offset = *start;
  }
  return read_map_data(reader, data);
}

// The archive's outcome once its listing ended.
ArchiveOutcome outcome_of(ListOutcome listing, const MeteredReader& reader, bool damaged_map) {
  if (reader.stop() == MeteredReader::Stop::kReadFailed) return ArchiveOutcome::kReadFailed;
  if (reader.stop() == MeteredReader::Stop::kOverBudget) return ArchiveOutcome::kOverBudget;
  if (listing == ListOutcome::kNotArchive) return ArchiveOutcome::kNotArchive;
  if (listing == ListOutcome::kDamaged || damaged_map) return ArchiveOutcome::kDamaged;
  return ArchiveOutcome::kWhole;
}

}  // namespace

bool listable_map_name(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"') return false;
  }
  return !name.empty();
}

ArchiveOutcome read_archive_maps(ByteSource& source, ArchiveKind kind, const MapVisitor& found,
                                 bool draw_layouts) {
  MeteredReader reader(source);
  // Pictures are paid for from a budget of their own: drawing them never leaves a title
  // unread.
  MeteredReader layout_reader(source);
  SharedData shared;
  bool damaged_map = false;
  const MapRead refused = MapRead::of(MapOutcome::kNameRefused);
  const MapRead overlapping = MapRead::of(MapOutcome::kDamaged);
  const ListOutcome listing = list_archive(reader, kind, [&](const ArchiveEntry& entry) {
    const std::optional<std::string_view> name = map_name_of_path(entry.path);
    if (!name) return true;
    ArchivedMap map{entry.path, *name, entry.position, &refused};
    map.data_start = entry.offset;
    std::optional<LayoutPicture> picture;
    const MapData key{0, entry.deflated, entry.stored_size, entry.size};
    // A zip entry's range takes in its local header's fixed part; its names are not known
    // before it is read, and no other entry's data may lie there either.
    const std::uint64_t end =
        entry.offset + entry.stored_size + (entry.local_header ? kZipLocalHeaderBytes : 0);
    if (!listable_map_name(*name)) {
      // Refused without reading: no line could hold it.
    } else if (const MapRead* earlier = shared.same(entry.offset, key)) {
      map.read = earlier;
    } else if (shared.overlaps(entry.offset, end)) {
      map.read = &overlapping;
    } else {
      MapData data;
      map.read = &shared.remember(entry.offset, end, key, read_entry(reader, entry, data));
      if (draw_layouts && map.read->outcome == MapOutcome::kTitled) {
        picture = read_map_layout(layout_reader, data);
        map.picture = picture ? &*picture : nullptr;
      }
    }
    if (map.read->outcome == MapOutcome::kDamaged) damaged_map = true;
    if (map.read->outcome == MapOutcome::kStopped) return false;
    found(map);
    return true;
  });
  return outcome_of(listing, reader, damaged_map);
}

MapRead read_loose_map(ByteSource& source, std::optional<LayoutPicture>* picture) {
  MeteredReader reader(source);
  const MapData data{0, false, reader.size(), reader.size()};
  MapRead read = read_map_data(reader, data);
  if (picture != nullptr && read.outcome == MapOutcome::kTitled) {
    MeteredReader layout_reader(source);
    *picture = read_map_layout(layout_reader, data);
  }
  return read;
}

}  // namespace mapsweep::formats
