// The scan context: every variable the map list builder's routines share for one run. The
// routines take nothing else and return nothing; they hand results to each other through
// these fields and through the files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "app/exact_maps.h"
#include "app/run_report.h"
#include "runtime/byte_string.h"
#include "runtime/runtime.h"
#include "runtime/string_array.h"
#include "runtime/string_list.h"

namespace mapsweep {

// Where control continues after a trapped failure.
enum Recovery : RecoveryLabel {
  // End the current archive, write what it yielded, go on with the next one.
  kArchiveRecovery = 1,
  // Close the current map file and finish it as if its end had been reached.
  kMapFileRecovery = 2,
  // Arm the archive recovery, drop the failure and leave the routine that was running.
  kGeneralRecovery = 3,
};

// Channel roles for the whole run.
inline constexpr std::int16_t kDataChannel = 1;        // the archive or map file being read
inline constexpr std::int16_t kFolderListChannel = 2;  // a folder maps.lst, or the one consolidated
inline constexpr std::int16_t kFolderNamesChannel = 3;   // temp.tmp
inline constexpr std::int16_t kCombinedListChannel = 4;  // the combined maps.lst

// The list every game folder gets, and the combined one in the starting directory.
inline constexpr char kListName[] = "maps.lst";

inline constexpr std::int32_t kChunkSize = 32000;
inline constexpr std::int32_t kArrayUpperBound = 2000;  // initial size; the arrays grow
// How often the end-of-archive step starts again after failures in a row that finish no
// further slot; then the archive's unwritten pairs are dropped and the next archive runs.
inline constexpr int kEndOfArchiveRetries = 3;

// The chunk being examined: bytes the data channel lends until it reads again, or bytes of
// its own (as a test gives them). The archive scan looks for the first map suffix and the
// first world marker in one pass and notes where they stand, so that nobody reads the
// chunk again to find them.
class Chunk {
 public:
  Chunk& operator=(ByteString bytes) {
    own_ = std::move(bytes);
    view_ = own_;
    markers_known_ = false;
    return *this;
  }
  void lend(std::string_view bytes) {
    own_.clear();
    view_ = bytes;
    markers_known_ = false;
  }
  void clear() { lend({}); }
  void release() {
    ByteString().swap(own_);
    clear();
  }
  operator std::string_view() const { return view_; }
  std::size_t size() const { return view_.size(); }
  bool empty() const { return view_.empty(); }

  // Positions as find_from(1, chunk, marker) gives them.
  void note_first_markers(std::int32_t suffix_at, std::int32_t world_at) {
    markers_known_ = true;
    first_suffix_ = suffix_at;
    first_world_ = world_at;
  }
  bool markers_known() const { return markers_known_; }
  std::int32_t first_suffix() const { return first_suffix_; }
  std::int32_t first_world() const { return first_world_; }

 private:
  ByteString own_;
  std::string_view view_;
  bool markers_known_ = false;
  std::int32_t first_suffix_ = 0;
  std::int32_t first_world_ = 0;
};

// How the map list builder reads a game folder: searching raw bytes for markers and paths,
// or reading the archives' directories and the maps' entity text.
enum class ScanMode { kByteSearch, kExact };

// How a run goes, besides the folders it visits.
struct RunOptions {
  ScanMode mode = ScanMode::kByteSearch;
  RunReport* report = nullptr;  // filled in as the run goes, when given
  Progress* progress = nullptr;
  Language language = Language::kEnglish;  // of the boxes the run shows
};

// What every scan sees of the driver's state: the game folder it works in, where it notes
// what it passed over and how much it read, the lines written to the folder's list so far,
// and what it tells the driver about the folder.
struct FolderScan {
  explicit FolderScan(Runtime& runtime, const RunOptions& run_options = {})
      : rt(runtime),
        options(run_options),
        report(run_options.report != nullptr ? *run_options.report : unasked_report) {}
  FolderScan(const FolderScan&) = delete;
  FolderScan& operator=(const FolderScan&) = delete;

  Runtime& rt;
  const RunOptions options;
  // Where the run counts what it did: the caller's report, or one nobody reads.
  RunReport unasked_report;
  RunReport& report;

  ByteString folder_name;
  bool in_maps = false;  // the current directory is the game folder's maps sub-folder

  // For the progress shown.
  int folder_index = 0;
  int folder_count = 0;
  std::uint64_t bytes_read = 0;

  StringArray list_lines;
  // The lines written to the game folder's list so far are also in list_lines, 1 to
  // entry_count, just as the consolidation would read them back from the file: none empty,
  // none holding a CR. Cleared for good by a line that is not, or that found no memory.
  bool collecting_folder_lines = false;
  std::int32_t entry_count = 0;

  bool nothing_found = false;  // the last scan that ran found no file matching its pattern
  // A scan of the current game folder could not read all it had to (besides the failures
  // on record, which say so too): a folder it could not list whole.
  bool incomplete = false;
};

// The driver's state: what the folder walk, the lists and their consolidation need besides
// what the scans see.
struct DriverState : FolderScan {
  using FolderScan::FolderScan;

  ByteString directory_entry;
  ByteString folder_list_name;  // temp.tmp, or the tempN.tmp taken when that name is the user's
  // A write to a folder list failed: the lines written after it never reached the combined
  // list either, which is then incomplete and must not replace the old one.
  bool lines_lost = false;
  bool lost = false;  // the run could not get back to the starting directory

  int consolidated_lines = 0;  // lines the last consolidation wrote
  bool consolidation_changed_file = false;  // the last consolidation changed its list's bytes
  bool consolidation_failed = false;        // the last consolidation was abandoned
  // The consolidation takes lines that differ only in the letter case of the map name for
  // one (exact mode's combined list).
  bool fold_name_case = false;
};

// The run's state: the driver's, and what the scans keep of their own.
struct ScanContext : DriverState {
  using DriverState::DriverState;

  // Set once at the start of the run.
  ByteString next_map_marker;  // nextmap" "
  ByteString world_marker;     // classname" "worldspawn"<LF>
  ByteString title_marker;     // message" "
  ByteString map_prefix;       // maps/
  ByteString map_suffix;       // .bsp

  // Only ever appended to, and emptied when an archive ends: an archive can hold millions
  // of map paths, each of which costs its bytes plus a few here.
  StringList archive_names;
  StringArray archive_titles;

  ExactScanState exact;

  // Shared by the scans. Counts are 32-bit: the arrays grow, so an archive may yield more
  // names than a 16-bit count could hold.
  ByteString file_name;
  Chunk chunk;
  std::int32_t name_count = 0;
  std::int32_t title_count = 0;
  std::int32_t next_map_position = 0;
  std::int32_t world_position = 0;
  std::int32_t title_position = 0;
  ByteString next_map_text;
  ByteString title;  // the title taken last; never emptied
  bool title_found = false;
  ByteString empty_title_line;  // the line of a map file that yielded no title
  // The name the extraction cut out last. The extraction works on positions in the chunk,
  // so the remaining text and the name window need no fields of their own.
  ByteString found_name;
};

// Builds the markers and the three arrays as the start of the run does.
void build_scan_context(ScanContext& ctx);
// Gives back every string and array of the context.
void release_scan_context(ScanContext& ctx);

// The routines of the map list builder: the program's main routine in the byte-search
// mode and in the exact one.
void WINMAIN(Runtime& rt);
void exact_main(Runtime& rt);
// The main routine as the command line runs it.
void build_map_lists(Runtime& rt, const RunOptions& options);
void archive_scan(ScanContext& ctx);
void map_entry_extraction(ScanContext& ctx);
void map_file_scan(ScanContext& ctx);
void list_consolidation(DriverState& ctx);
// Consolidates the game folder's list from the lines collected as they were written: the
// file it closes already holds the consolidated list unless a line goes, and only then is
// it written again. Expects the general recovery armed, as list_consolidation does.
void collected_list_consolidation(DriverState& ctx);
// Keeps a copy of a line written to the game folder's list, while that is collected.
void collect_folder_line(FolderScan& folder, const ByteString& line);

}  // namespace mapsweep

namespace mapsweep {

// The map entry line `name "title"`.
ByteString map_entry_line(ErrorState& err, const ByteString& name, const ByteString& title);
// Writes the map entry line `name "title"` to the folder list, then to the combined list,
// checking after every step: a line that cannot be built goes to neither, and a failure
// on the folder list keeps the line from the combined one. A list that is not open is skipped (a
// folder list that could not be opened, a combined list left as it was).
void write_map_entry_line(FolderScan& folder, const ByteString& name, const ByteString& title);
// Writes a line already built to the folder list and then to the combined list, likewise.
void write_list_line(FolderScan& folder, const ByteString& line);
// Writes the map entry line as write_map_entry_line does, but a step that fails is taken,
// not trapped: the line goes no further, and the result says whether it went through.
bool write_map_entry_line_taking_failure(FolderScan& folder, const ByteString& name,
                                         const ByteString& title);

// When the step just done on the data file `file_name` failed, notes in the report that the
// file was passed over, and why; the failure stays pending.
void note_data_file_failure(FolderScan& folder, const ByteString& file_name);
// Takes the pending failure of a step on the data file, noting it: whether there was one.
bool take_data_file_failure(FolderScan& folder, const ByteString& file_name);
// Counts bytes read from data files and tells the progress.
void note_bytes_read(FolderScan& folder, std::size_t bytes);
// Notes in the report that `path` was passed over, and why.
void note_passed_over(FolderScan& folder, const ByteString& path, const char* reason);
// The text right behind a marker that starts at position `marker_at` of the chunk: at most
// 40 bytes, cut before the first double quote, shorter when the chunk ends first.
ByteString text_after_marker(ScanContext& ctx, std::int32_t marker_at, const ByteString& marker);

}  // namespace mapsweep
