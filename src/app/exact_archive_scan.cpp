// The exact archive scan: reads each archive's own directory (PACK archives, then zip
// archives) and, of every entry that is a map, only the map's header and entity text.
// Archives are read in the order a game loads them, so that the copy it would load wins.
// An archive that is no archive yields nothing. One that cannot be opened or read, whose
// directory or maps are damaged, or that would cost far more work than its size warrants
// makes the folder's scan incomplete, so the folder's list stays as it was.
#include <algorithm>

#include "app/catalog.h"
#include "app/exact_maps.h"
#include "app/messages.h"
#include "app/scan_context.h"
#include "formats/archive_maps.h"
#include "runtime/directory_search.h"

namespace mapsweep {
namespace {

// The names a search of the current folder finds, in the order found. A folder that could
// not be listed whole makes the scan incomplete.
std::vector<ByteString> found_names(FolderScan& folder, const char* pattern) {
  Runtime& rt = folder.rt;
  std::vector<ByteString> names;
  for (ByteString name = search_first(rt, ByteString(pattern), os::kAttributeArchive);
       !name.empty(); name = search_next(rt)) {
    names.push_back(std::move(name));
  }
  if (!search_listed_whole(rt)) folder.incomplete = true;
  return names;
}

// Takes what reading one map entry gave: a title is offered, a refused name or damaged
// data is reported. Returns whether the entry was reported as damaged.
bool take_archived_map(FolderScan& folder, ExactScanState& exact, const formats::ArchivedMap& map,
                       MapPrecedence precedence) {
  const ByteString where = report_path(folder, exact.file_name + ": " + ByteString(map.path));
  switch (map.read->outcome) {
    case formats::MapOutcome::kTitled: {
      FoundMap found{ByteString(map.name), map.read->title, precedence, std::nullopt};
      if (exact.catalog != nullptr) {
        MapSource source{folder.folder_name + "/" + exact.file_name, std::string(map.path)};
        found.catalog = catalog_copy(*exact.catalog, *map.read, std::move(source), map.picture);
      }
      offer_map(exact, std::move(found));
      return false;
    }
    case formats::MapOutcome::kNameRefused:
      note_passed_over(folder, where, english_reason(Message::kReasonNameUnlistable));
      return false;
    case formats::MapOutcome::kDamaged:
      note_passed_over(folder, where, english_reason(Message::kReasonDamagedMap));
      return true;
    default:
      return false;
  }
}

// Why the rest of an archive was passed over, when it was; nullptr when the archive was
// read whole (a failed read is on record already, with its own reason).
const char* archive_reason(formats::ArchiveOutcome outcome, bool maps_reported) {
  switch (outcome) {
    case formats::ArchiveOutcome::kDamaged:
      return maps_reported ? nullptr : english_reason(Message::kReasonDamagedDirectory);
    case formats::ArchiveOutcome::kOverBudget:
      return english_reason(Message::kReasonOverBudget);
    default:
      return nullptr;
  }
}

// The archive open on the data channel, `load_order`-th of its kind.
void read_archive(FolderScan& folder, ExactScanState& exact, formats::ArchiveKind kind,
                  std::int64_t load_order) {
  DataFileSource source(folder, exact.file_name);
  if (!source.usable()) return;
  const int from = kind == formats::ArchiveKind::kPack ? kFromPack : kFromZip;
  bool maps_reported = false;
  const formats::ArchiveOutcome outcome = formats::read_archive_maps(
      source, kind,
      [&](const formats::ArchivedMap& map) {
        const MapPrecedence precedence{from, load_order, -static_cast<std::int64_t>(map.position)};
        maps_reported = take_archived_map(folder, exact, map, precedence) || maps_reported;
      },
      exact.catalog != nullptr);
  if (const char* reason = archive_reason(outcome, maps_reported)) {
    note_passed_over(folder, report_path(folder, exact.file_name), reason);
  }
  if (outcome != formats::ArchiveOutcome::kWhole &&
      outcome != formats::ArchiveOutcome::kNotArchive) {
    folder.incomplete = true;
  }
}

void read_archives(FolderScan& folder, ExactScanState& exact, const std::vector<ByteString>& names,
                   const std::vector<std::size_t>& order, formats::ArchiveKind kind) {
  for (std::size_t loaded = 0; loaded < order.size(); ++loaded) {
    if (!open_data_file(folder, exact, names[order[loaded]])) continue;
    read_archive(folder, exact, kind, static_cast<std::int64_t>(loaded));
    close_data_file(folder);
  }
}

}  // namespace

void exact_archive_scan(FolderScan& folder, ExactScanState& exact) {
  exact.maps.clear();
  const std::vector<ByteString> packs = found_names(folder, "pak*.pak");
  read_archives(folder, exact, packs, pack_load_order(packs), formats::ArchiveKind::kPack);
  // Zip archives are loaded after every PACK archive, in the order found.
  const std::vector<ByteString> zips = found_names(folder, "*.pk3");
  std::vector<std::size_t> found_order(zips.size());
  for (std::size_t i = 0; i < found_order.size(); ++i) found_order[i] = i;
  read_archives(folder, exact, zips, found_order, formats::ArchiveKind::kZip);
  folder.nothing_found = packs.empty() && zips.empty();
}

}  // namespace mapsweep
