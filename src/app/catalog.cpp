#include "app/catalog.h"

#include <algorithm>
#include <new>

#include "app/catalog_json.h"
#include "app/catalog_page.h"
#include "app/run_report.h"
#include "app/scan_context.h"

namespace mapsweep {
namespace {

constexpr char kPicturesFolder[] = "pictures";
// Pictures go into numbered folders of this many. Creating a file lists its folder (to
// refuse a name that differs from one there only in letter case, as Windows would), so the
// cost of a picture grows with the pictures beside it: with 256 a folder, listing took a
// tenth of a catalogue run's processor time; 64 a folder cost a quarter of that, for four
// times as many folders, which are few beside the files.
constexpr std::uint64_t kPicturesPerFolder = 64;
// Pictures given to the encoder and not yet written: enough that the encoder's thread
// always has one to go on with while this one reads maps and writes files, and few enough
// (64 KiB of pixels each) that they cost little memory.
constexpr std::size_t kPicturesInFlight = 16;

bool all_digits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// What an old catalogue folder may hold and still be replaced: only what a run writes,
// index.html, maps.json and pictures/N/M.png.
bool written_by_a_run(std::string_view path, bool is_folder) {
  if (path == kPicturesFolder) return is_folder;
  if (path == "index.html" || path == "maps.json") return !is_folder;
  const std::string_view prefix = "pictures/";
  if (!path.starts_with(prefix)) return false;
  const std::string_view rest = path.substr(prefix.size());
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return is_folder && all_digits(rest);
  const std::string_view file = rest.substr(slash + 1);
  return !is_folder && all_digits(rest.substr(0, slash)) && file.ends_with(".png") &&
         all_digits(file.substr(0, file.size() - 4));
}

// Makes the temporary folder with its pictures folder on first need. False once broken.
bool ready(CatalogState& catalog) {
  if (catalog.broken) return false;
  if (catalog.started) return true;
  catalog.started = catalog.folder.begin(catalog.options.place, written_by_a_run, "index.html");
  catalog.broken = !catalog.started || !catalog.folder.add_folder(kPicturesFolder);
  return !catalog.broken;
}

// Writes pictures the encoder has been given, oldest first, until no more than `left` wait.
// How many are left waiting depends on nothing but the count, so the run's calls come in
// the same order however the encoder's thread keeps pace.
void write_pictures(CatalogState& catalog, std::size_t left) {
  while (catalog.pending.size() > left) {
    if (catalog.broken) {
      catalog.encoder.forget_all();
      catalog.pending.clear();
      return;
    }
    const std::string png = catalog.encoder.take_oldest();
    const CatalogState::PendingPicture picture = std::move(catalog.pending.front());
    catalog.pending.pop_front();
    if (picture.dropped) continue;
    if (png.empty()) {
      catalog.error = os::kErrorNotEnoughMemory;
      catalog.broken = true;
      continue;
    }
    FolderReplacement& folder = catalog.folder;
    if (picture.folder >= catalog.folders_made) {
      if (!folder.add_folder(std::string(kPicturesFolder) + "/" + std::to_string(picture.folder))) {
        catalog.broken = true;
        continue;
      }
      catalog.folders_made = picture.folder + 1;
    }
    if (!folder.add_file(picture.path, png)) catalog.broken = true;
  }
}

// Gives a picture to the encoder, to be written once enough more have followed it; its path
// in the catalogue, or "" when the catalogue can no longer be written.
std::string store_picture(CatalogState& catalog, const formats::LayoutPicture& picture) {
  const std::uint64_t number = catalog.next_picture++;
  const std::uint64_t folder = (number - 1) / kPicturesPerFolder;
  std::string path = std::string(kPicturesFolder) + "/" + std::to_string(folder) + "/" +
                     std::to_string(number) + ".png";
  if (!catalog.options.dry_run) {
    if (!ready(catalog)) return {};
    try {
      catalog.encoder.give(picture);  // changes nothing when it throws
      catalog.pending.push_back({path, folder, false});
    } catch (const std::bad_alloc&) {
      // The picture may wait in the encoder and not here: the two no longer match, so
      // nothing more is written (and the run goes on with its lists).
      catalog.error = os::kErrorNotEnoughMemory;
      catalog.broken = true;
      return {};
    }
    write_pictures(catalog, kPicturesInFlight);
    if (catalog.broken) return {};
  }
  ++catalog.pictures;
  return path;
}

}  // namespace

CatalogState::CatalogState(Runtime& runtime, const CatalogOptions& catalog_options)
    : rt(runtime), options(catalog_options), folder(runtime.os, runtime.channels.random_names) {}

CatalogCopy catalog_copy(CatalogState& catalog, const formats::MapRead& read, MapSource source,
                         const formats::LayoutPicture* picture) {
  CatalogCopy copy;
  CatalogMap& map = copy.map;
  map.title = read.title;
  map.message = read.message;
  map.source = std::move(source);
  map.family = std::string(read.family);
  map.size = read.size;
  map.modes = {read.facts.single, read.facts.coop, read.facts.deathmatch, read.facts.team};
  map.monsters = read.facts.monsters;
  map.secrets = read.facts.secrets;
  map.nextmap = read.nextmap;
  if (picture != nullptr) map.picture = store_picture(catalog, *picture);
  return copy;
}

void drop_picture(CatalogState& catalog, const std::string& path) {
  if (path.empty()) return;
  --catalog.pictures;
  if (catalog.options.dry_run || catalog.broken) return;
  // Not written yet (nearly always the latest): then it never is.
  for (auto pending = catalog.pending.rbegin(); pending != catalog.pending.rend(); ++pending) {
    if (pending->path == path && !pending->dropped) {
      pending->dropped = true;
      return;
    }
  }
  if (!catalog.folder.remove_file(path)) catalog.broken = true;
}

void add_folder_maps(CatalogState& catalog, const FolderScan& folder,
                     const std::vector<const FoundMap*>& maps) {
  for (const FoundMap* found : maps) {
    if (!found->catalog) continue;
    CatalogMap map = found->catalog->map;
    map.folder = folder.folder_name;
    map.name = found->name;
    auto hidden = found->catalog->hidden;
    std::stable_sort(hidden.begin(), hidden.end(),
                     [](const auto& a, const auto& b) { return b.first < a.first; });
    for (auto& [precedence, source] : hidden) map.shadows.push_back(std::move(source));
    catalog.maps.push_back(std::move(map));
  }
}

void complete_catalog(CatalogState& catalog, RunReport& report) {
  CatalogSummary& summary = report.catalog;
  summary.path = catalog.options.place;
  summary.maps = catalog.maps.size();
  summary.pictures = catalog.pictures;
  if (catalog.options.dry_run) {
    summary.outcome = CatalogOutcome::kWritten;
    return;
  }
  write_pictures(catalog, 0);
  const std::string& generator = catalog.options.generator;
  // Written piece by piece: the documents of tens of thousands of maps never stand whole in
  // memory beside the records.
  const bool written =
      ready(catalog) &&
      catalog.folder.add_file_from("maps.json",
                                   [&](const FolderReplacement::PieceWriter& write) {
                                     return write_catalog_json(catalog.maps, generator, false,
                                                               write);
                                   }) &&
      catalog.folder.add_file_from("index.html",
                                   [&](const FolderReplacement::PieceWriter& write) {
                                     return write_catalog_page(catalog.maps, generator, write);
                                   });
  if (!written) {
    summary.outcome = CatalogOutcome::kFailed;
    summary.error = catalog.error != 0 ? catalog.error : catalog.folder.last_error();
    catalog.folder.abandon();
    return;
  }
  switch (catalog.folder.commit(written_by_a_run)) {
    case FolderReplacement::Outcome::kReplaced:
      summary.outcome = CatalogOutcome::kWritten;
      break;
    case FolderReplacement::Outcome::kOldKept:
      summary.outcome = CatalogOutcome::kKept;
      break;
    case FolderReplacement::Outcome::kFailed:
      summary.outcome = CatalogOutcome::kFailed;
      summary.error = catalog.folder.last_error();
      break;
  }
}

}  // namespace mapsweep
