// The catalogue a run writes beside its lists: every map the exact scans find, with the
// copies it hides and a picture of its layout, as maps.json, index.html and pictures/ in
// one folder. The folder is built under a temporary name as the run goes and put in place
// of the old one only when the run has visited every game folder; a dry run builds
// nothing and counts what it would write.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/catalog_record.h"
#include "app/exact_maps.h"
#include "app/picture_encoder.h"
#include "formats/archive_maps.h"
#include "runtime/folder_replacement.h"
#include "runtime/runtime.h"

namespace mapsweep {

struct FolderScan;
struct RunReport;

inline constexpr char kCatalogFolderName[] = "maps.catalog";

struct CatalogOptions {
  std::string place;      // the catalogue folder's full path: DIR/maps.catalog
  bool dry_run = false;   // count what would be written, write nothing
  std::string generator;  // "mapsweep VERSION", as maps.json names its maker
};

struct CatalogState {
  CatalogState(Runtime& rt, const CatalogOptions& catalog_options);

  Runtime& rt;
  const CatalogOptions options;
  FolderReplacement folder;
  bool started = false;  // the temporary folder was made
  bool broken = false;   // a step failed: nothing more is written, nothing is put in place
  // Why the catalogue broke when no call of the folder's failed: encoding a picture ran out
  // of memory. 0 otherwise.
  std::uint32_t error = 0;
  CatalogMaps maps;
  std::uint64_t pictures = 0;      // pictures stored and kept
  std::uint64_t next_picture = 1;  // the number the next picture's file gets
  // Pictures given to the encoder and not yet written, oldest first, as the encoder holds
  // them; one whose copy lost to another copy meanwhile is dropped rather than written.
  struct PendingPicture {
    std::string path;
    std::uint64_t folder = 0;  // the number of the pictures folder it goes in
    bool dropped = false;
  };
  PictureEncoder encoder;
  std::deque<PendingPicture> pending;
  std::uint64_t folders_made = 0;  // pictures folders 0 to folders_made - 1 were made
};

// The catalogue's record of a copy just read: its source, what the read gave, and its
// picture stored under a name of its own (none when it has none or it could not be stored).
CatalogCopy catalog_copy(CatalogState& catalog, const formats::MapRead& read, MapSource source,
                         const formats::LayoutPicture* picture);
// A picture whose copy lost to another copy is not kept.
void drop_picture(CatalogState& catalog, const std::string& path);
// Adds the folder's maps, in the order its list has them, each with the copies it hides,
// the next to win first.
void add_folder_maps(CatalogState& catalog, const FolderScan& folder,
                     const std::vector<const FoundMap*>& maps);
// Writes maps.json and index.html and puts the folder in place; says in the report what
// became of it.
void complete_catalog(CatalogState& catalog, RunReport& report);

}  // namespace mapsweep
