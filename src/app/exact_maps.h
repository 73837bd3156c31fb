// Exact mode: the maps of a game folder read from the archives' directories and the maps'
// own entity text, instead of searched for in raw bytes. The scans offer every playable
// map they read; of several copies of one name the copy a game would load wins; after both
// scans the folder's winners are written in natural order of their names.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/catalog_record.h"
#include "formats/byte_source.h"
#include "runtime/byte_string.h"

namespace mapsweep {

struct FolderScan;

// Which copy of a map a game loads: a loose map file beats every archive, a zip archive
// every PACK archive; among archives of a kind the one loaded later wins, and within one
// archive (or among loose files) the first one found. Greater wins.
struct MapPrecedence {
  int source = 0;               // kFromPack, kFromZip or kFromMapFile
  std::int64_t load_order = 0;  // the archive's place in the order a game loads them
  std::int64_t position = 0;    // the entry's (or file's) place, negated: the first wins
  auto operator<=>(const MapPrecedence&) const = default;
};
inline constexpr int kFromPack = 0;
inline constexpr int kFromZip = 1;
inline constexpr int kFromMapFile = 2;

// What a catalogue keeps of one copy of a map while the folder is read: its record, and
// the copies it hides so far with their precedence.
struct CatalogCopy {
  CatalogMap map;
  std::vector<std::pair<MapPrecedence, MapSource>> hidden;
};

struct FoundMap {
  std::string name;  // as a game loads it, its letter case kept
  std::string title;
  MapPrecedence precedence;
  std::optional<CatalogCopy> catalog;  // in a run that writes a catalogue
};

struct CatalogState;

// Natural order: names compare piece by piece, a piece being a run of digits or a single
// other byte; digit runs by value (at equal value the shorter run first), other pieces by
// their byte with a-z taken as A-Z; a name that runs out first comes first; names equal in
// all that go by their raw bytes.
bool natural_less(std::string_view a, std::string_view b);

// The order in which a game loads the PACK archives found: pakN.pak by N (any letter case,
// leading zeros allowed), equal N in the order found, then every other name in the order
// found. Indices into `names`.
std::vector<std::size_t> pack_load_order(const std::vector<std::string>& names);

// What the exact scans keep of their own while they work on a game folder.
struct ExactScanState {
  // The playable maps of the current game folder by name in one letter case.
  std::map<std::string, FoundMap> maps;
  ByteString file_name;  // the archive or map file being read
  // The catalogue the run writes, or nullptr.
  std::shared_ptr<CatalogState> catalog;
  // Pictures of copies that lost to another copy since the folder's maps were last written.
  std::vector<std::string> unused_pictures;
};

// Offers a playable map; it replaces an earlier copy of the same name (ASCII letters in
// either case) only when it has the greater precedence.
void offer_map(ExactScanState& exact, FoundMap map);

// The file open on the data channel as the format readers' byte source. A failed read goes
// on record as the data file's failure, which makes the folder's scan incomplete; so does
// a file that turns out shorter than its length said (changed while being read).
class DataFileSource final : public formats::ByteSource {
 public:
  // `file_name` names the file in what is reported about it.
  DataFileSource(FolderScan& folder, const ByteString& file_name);
  // Whether the file's length could be taken; a source that is not usable reads nothing.
  bool usable() const { return usable_; }
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override;

  // Files up to this size are read whole at the first read, and every read is answered
  // from that copy.
  static constexpr std::uint64_t kReadWholeUpTo = 64 * 1024;

 private:
  bool read_whole();
  // The file came short of the length it had when opened: the folder's lines are not
  // complete.
  void note_changed_while_read();

  FolderScan& folder_;
  const ByteString& file_name_;
  std::uint64_t size_ = 0;
  bool usable_ = false;
  std::optional<std::string> whole_;  // a small file's bytes, once read
};

// Where a thing found in the current game folder is, for the report: the folder, "maps/"
// when the scan is in there, and `name`, its control bytes shown as '?'.
ByteString report_path(const FolderScan& folder, std::string_view name);

// Opens an archive or map file on the data channel for reading only; false (the failure
// taken, but on record) when it cannot be.
bool open_data_file(FolderScan& folder, ExactScanState& exact, const std::string& name);
void close_data_file(FolderScan& folder);

// The exact scans of a game folder and the writing of its lines; each forgets what the
// previous folder found as it starts the folder.
void exact_archive_scan(FolderScan& folder, ExactScanState& exact);
void exact_map_file_scan(FolderScan& folder, ExactScanState& exact);
void write_exact_maps(FolderScan& folder, ExactScanState& exact);

}  // namespace mapsweep
