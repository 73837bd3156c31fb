// The exact map-file scan: reads of every map file in the maps sub-folder its header and
// entity text, nothing else. A file that is no map, or no map anybody can play, yields
// nothing; one that cannot be opened or read counts as not read (the failure stays on
// record) and yields nothing either. A file whose name no list line can hold is reported
// and not read.
#include "app/catalog.h"
#include "app/exact_maps.h"
#include "app/messages.h"
#include "app/scan_context.h"
#include "formats/archive_maps.h"
#include "runtime/directory_search.h"

namespace mapsweep {

void exact_map_file_scan(FolderScan& folder, ExactScanState& exact) {
  Runtime& rt = folder.rt;
  std::int64_t position = 0;
  ByteString file = search_first(rt, ByteString("*.BSP"), os::kAttributeArchive);
  folder.nothing_found = file.empty();
  for (; !file.empty(); file = search_next(rt), ++position) {
    // The name a game loads: the file's name without its four-byte extension.
    ByteString name = file.substr(0, file.size() - 4);
    if (!formats::listable_map_name(name)) {
      note_passed_over(folder, report_path(folder, file),
                       english_reason(Message::kReasonNameUnlistable));
      continue;
    }
    if (!open_data_file(folder, exact, file)) continue;
    formats::MapRead read;
    std::optional<formats::LayoutPicture> picture;
    if (DataFileSource source(folder, exact.file_name); source.usable()) {
      read = formats::read_loose_map(source, exact.catalog != nullptr ? &picture : nullptr);
    }
    close_data_file(folder);
    if (read.outcome != formats::MapOutcome::kTitled) continue;
    FoundMap found{std::move(name), read.title, {kFromMapFile, 0, -position}, std::nullopt};
    if (exact.catalog != nullptr) {
      MapSource source{{}, folder.folder_name + "/maps/" + file};
      found.catalog =
          catalog_copy(*exact.catalog, read, std::move(source), picture ? &*picture : nullptr);
    }
    offer_map(exact, std::move(found));
  }
  if (!search_listed_whole(rt)) folder.incomplete = true;
}

}  // namespace mapsweep
