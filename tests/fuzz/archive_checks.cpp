#include "archive_checks.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/archive_maps.h"
#include "formats/byte_reading.h"
#include "formats/map_path.h"
#include "formats/pack_directory.h"
#include "formats/zip_directory.h"
#include "fuzz_check.h"
#include "recording_source.h"
#include "zlib_reference.h"

namespace mapsweep::fuzz {
namespace {

using namespace formats;

// Deflated maps larger than this are not inflated again for comparison, and no input gets
// more than kReferenceBytes of such inflating: the fuzzer's time is better spent on more
// inputs.
constexpr std::uint64_t kReferenceMapBytes = 8u << 20;
constexpr std::uint64_t kReferenceBytes = 32u << 20;

struct SeenMap {
  std::string path;
  std::string name;
  std::uint64_t position = 0;
  MapOutcome outcome = MapOutcome::kNoMap;
  std::string title;
  bool operator==(const SeenMap&) const = default;
};

struct ArchiveRun {
  ArchiveOutcome outcome = ArchiveOutcome::kNotArchive;
  std::vector<SeenMap> maps;
  bool operator==(const ArchiveRun&) const = default;
};

ArchiveRun read_maps(RecordingSource& source, ArchiveKind kind) {
  ArchiveRun run;
  run.outcome = read_archive_maps(source, kind, [&](const ArchivedMap& map) {
    check(map.read != nullptr);
    check(source.came_from_read(map.path));
    const std::optional<std::string_view> name = map_name_of_path(map.path);
    check(name && name->data() == map.name.data() && name->size() == map.name.size());
    check(run.maps.empty() || map.position > run.maps.back().position);
    const MapRead& read = *map.read;
    // A map the reader could not finish ends the reading; it is never offered.
    check(read.outcome != MapOutcome::kStopped);
    check((read.outcome == MapOutcome::kNameRefused) == !listable_map_name(map.name));
    check(read.outcome == MapOutcome::kTitled || read.title.empty());
    check_title(read.title);
    run.maps.push_back({std::string(map.path), std::string(map.name), map.position, read.outcome,
                        read.title});
  });
  return run;
}

struct Listed {
  std::string path;
  ArchiveEntry entry;  // its path cleared: the view dies with the visit
};

struct Listing {
  ListOutcome outcome = ListOutcome::kNotArchive;
  std::vector<Listed> entries;
};

// The path a PACK directory holds for the entry at `position`: the bytes before its NUL.
std::string_view pack_path_at(std::string_view file, std::uint64_t position) {
  check(file.size() >= kPackHeaderBytes);
  const std::uint64_t at = u32_at(file, 4) + position * kPackEntryBytes;
  check(range_fits(at, kPackEntryBytes, file.size()));
  const std::string_view path = file.substr(static_cast<std::size_t>(at), kPackPathBytes);
  return path.substr(0, path.find('\0'));
}

void check_listed_entry(std::string_view file, ArchiveKind kind, const ArchiveEntry& entry) {
  check(entry.local_header == (kind == ArchiveKind::kZip));
  check(entry.deflated || entry.stored_size == entry.size);
  if (kind == ArchiveKind::kPack) {
    check(!entry.deflated && entry.path == pack_path_at(file, entry.position));
    check(range_fits(entry.offset, entry.stored_size, file.size()));
  } else {
    check(range_fits(entry.offset, kZipLocalHeaderBytes, file.size()));
    check(range_fits(entry.offset + kZipLocalHeaderBytes, entry.stored_size, file.size()));
  }
}

Listing list_entries(std::string_view file, ArchiveKind kind) {
  RecordingSource source(file);
  MeteredReader reader(source);
  Listing listing;
  listing.outcome = list_archive(reader, kind, [&](const ArchiveEntry& entry) {
    check(source.came_from_read(entry.path));
    check(listing.entries.empty() || entry.position > listing.entries.back().entry.position);
    check_listed_entry(file, kind, entry);
    listing.entries.push_back({std::string(entry.path), entry});
    listing.entries.back().entry.path = {};
    return true;
  });
  check(reader.stop() != MeteredReader::Stop::kReadFailed);
  check(listing.outcome != ListOutcome::kStopped || reader.stopped());
  // Every read the listing made went through the meter and cost what the meter says.
  check(source.charged() <= reader.work_done() && reader.work_done() <= reader.budget());
  check(reader.stopped() || source.charged() == reader.work_done());
  return listing;
}

// The listing on its own meter costs less than the listing within the map reading, so it
// gets at least as far; where the map reading got to the end, they agree on everything.
void check_listing_agrees(const Listing& listing, const ArchiveRun& run) {
  check((listing.outcome == ListOutcome::kNotArchive) ==
        (run.outcome == ArchiveOutcome::kNotArchive));
  if (run.outcome == ArchiveOutcome::kWhole) check(listing.outcome == ListOutcome::kWhole);
  if (listing.outcome == ListOutcome::kDamaged) {
    check(run.outcome == ArchiveOutcome::kDamaged || run.outcome == ArchiveOutcome::kOverBudget);
  }
  if (run.outcome == ArchiveOutcome::kOverBudget) return;
  std::vector<std::uint64_t> map_positions;
  for (const Listed& listed : listing.entries) {
    if (map_name_of_path(listed.path)) map_positions.push_back(listed.entry.position);
  }
  check(map_positions.size() == run.maps.size());
  for (std::size_t i = 0; i < map_positions.size(); ++i) {
    check(map_positions[i] == run.maps[i].position);
  }
}

// The bytes of the entry's data in the archive: PACK data, or what follows a zip entry's
// local header.
std::optional<std::string_view> entry_data(std::string_view file, const ArchiveEntry& entry) {
  std::uint64_t start = entry.offset;
  if (entry.local_header) {
    ZipEntry zip;
    zip.local_header_offset = entry.offset;
    zip.compressed_size = entry.stored_size;
    const auto data_start =
        zip_data_offset(file.substr(static_cast<std::size_t>(entry.offset), kZipLocalHeaderBytes),
                        zip, file.size());
    if (!data_start) return std::nullopt;
    start = *data_start;
  }
  return file.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(entry.stored_size));
}

void check_against_loose(std::string_view file, const Listing& listing, const ArchiveRun& run) {
  std::uint64_t reference_left = kReferenceBytes;
  for (const SeenMap& map : run.maps) {
    if (map.outcome != MapOutcome::kTitled && map.outcome != MapOutcome::kNoMap) continue;
    const auto listed = std::find_if(listing.entries.begin(), listing.entries.end(),
                                     [&](const Listed& l) { return l.entry.position == map.position; });
    check(listed != listing.entries.end() && listed->path == map.path);
    const ArchiveEntry& entry = listed->entry;
    // A map that was read has data where its header says.
    const std::optional<std::string_view> data = entry_data(file, entry);
    check(data.has_value());
    std::string inflated;
    std::string_view map_bytes = *data;
    if (entry.deflated) {
      if (entry.size > kReferenceMapBytes || entry.size > reference_left) continue;
      reference_left -= entry.size;
      ReferenceInflate whole = reference_inflate(*data, static_cast<std::size_t>(entry.size) + 1);
      // Only data that is a whole, clean deflate stream of the stated size is a map file's
      // bytes beyond doubt; other data the reader may judge from the part it needed.
      if (!whole.ended || whole.output.size() != entry.size) continue;
      inflated = std::move(whole.output);
      map_bytes = inflated;
    }
    MemorySource loose_source(map_bytes);
    const MapRead loose = read_loose_map(loose_source);
    check(loose.outcome == map.outcome && loose.title == map.title);
  }
}

// A source that fails at the read halfway through: the maps offered before are what the
// whole run offered first, and the outcome says the read failed.
void check_failing_read(std::string_view file, ArchiveKind kind, const ArchiveRun& whole,
                        std::uint64_t reads) {
  if (reads == 0) return;
  RecordingSource failing(file, reads / 2 + 1);
  const ArchiveRun cut = read_maps(failing, kind);
  check(cut.outcome == ArchiveOutcome::kReadFailed);
  check(cut.maps.size() <= whole.maps.size() &&
        std::equal(cut.maps.begin(), cut.maps.end(), whole.maps.begin()));
}

}  // namespace

void check_archive(std::string_view file, ArchiveKind kind) {
  RecordingSource source(file);
  const ArchiveRun run = read_maps(source, kind);
  check(run.outcome != ArchiveOutcome::kReadFailed);
  check(source.charged() <= budget_of(file.size()));

  RecordingSource again(file);
  check(read_maps(again, kind) == run && again.reads() == source.reads());

  const Listing listing = list_entries(file, kind);
  check_listing_agrees(listing, run);
  check_against_loose(file, listing, run);
  check_failing_read(file, kind, run, source.reads());
}

}  // namespace mapsweep::fuzz
