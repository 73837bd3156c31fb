// The state of one run, in records that each routine takes only as far as it needs it:
// FolderScan is what a scan sees of the driver's state; DriverState adds what the folder
// walk, the lists and their consolidation need; ScanContext owns a run's driver state, the
// scans of its mode, picked once, and that mode's own state (byte_search.h, exact_maps.h).
// The routines hand results to each other through these records and through the files.
#pragma once

#include <cstdint>
#include <variant>

#include "app/byte_search.h"
#include "app/exact_maps.h"
#include "app/run_report.h"
#include "runtime/byte_string.h"
#include "runtime/runtime.h"
#include "runtime/string_array.h"

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

inline constexpr std::int32_t kArrayUpperBound = 2000;  // initial size; the arrays grow

// How the map list builder reads a game folder: searching raw bytes for markers and paths,
// or reading the archives' directories and the maps' entity text.
// A catalogue run reads as the exact one does and also writes the catalogue.
enum class ScanMode { kByteSearch, kExact, kCatalog };

struct CatalogOptions;

// How a run goes, besides the folders it visits.
struct RunOptions {
  ScanMode mode = ScanMode::kByteSearch;
  RunReport* report = nullptr;  // filled in as the run goes, when given
  Progress* progress = nullptr;
  Language language = Language::kEnglish;  // of the boxes the run shows
  const CatalogOptions* catalog = nullptr;  // for ScanMode::kCatalog
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
  // Game folders that could not be entered or read whole: a catalogue of the run would
  // miss their maps.
  int folders_incomplete = 0;

  int consolidated_lines = 0;  // lines the last consolidation wrote
  bool consolidation_changed_file = false;  // the last consolidation changed its list's bytes
  bool consolidation_failed = false;        // the last consolidation was abandoned
  // The consolidation takes lines that differ only in the letter case of the map name for
  // one (exact mode's combined list).
  bool fold_name_case = false;
};

// Builds the list lines array as the start of the run does.
void build_driver_state(DriverState& driver);
// Gives back the driver's strings and array.
void release_driver_state(DriverState& driver);

struct ScanContext;

// The scans of one mode, picked once when the run starts (mode_scans.cpp). Each takes the
// run's state and hands its scan the folder it works in and the mode's own state.
struct ModeScans {
  // Makes the mode's state as the run starts; it lives until the run ends.
  void (*start)(ScanContext& ctx);
  void (*scan_archives)(ScanContext& ctx);
  // Runs in the game folder's maps sub-folder.
  void (*scan_map_files)(ScanContext& ctx);
  // Once both scans are done: a mode that holds its lines until then writes them.
  void (*write_found_maps)(ScanContext& ctx);
  // The run visited every game folder and came back: a mode that writes more than the
  // lists puts it in place.
  void (*complete)(ScanContext& ctx);
  // Gives back what the mode's state holds, as the run ends.
  void (*finish)(ScanContext& ctx);
  // The combined list takes lines that differ only in the letter case of the map name for
  // one.
  bool fold_name_case;
};

// The scans of the mode a run reads game folders in.
const ModeScans& scans_of(ScanMode mode);

// One run's state as its owner holds it: the driver's, the scans of the run's mode, and
// that mode's own state.
struct ScanContext {
  ScanContext(Runtime& runtime, const RunOptions& run_options)
      : driver(runtime, run_options), scans(scans_of(run_options.mode)) {}

  DriverState driver;
  const ModeScans& scans;
  // Empty until the mode's scans start.
  std::variant<std::monostate, ByteSearchState, ExactScanState> mode_state;
};

// The routines of the map list builder: the program's main routine in the byte-search
// mode and in the exact one.
void WINMAIN(Runtime& rt);
void exact_main(Runtime& rt);
// The main routine as the command line runs it.
void build_map_lists(Runtime& rt, const RunOptions& options);
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

}  // namespace mapsweep
