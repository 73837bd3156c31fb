// The program's main routine: asks whether to start, lists the game folders of the starting
// directory, visits each one (archives, loose map files, consolidation of its maps.lst)
// and finally consolidates the combined maps.lst there. The driver's own steps handle
// their failures themselves: a folder that cannot be worked on is skipped, the run always
// returns to the starting directory, and no trap leaves the driver.
#include <new>
#include <string>
#include <vector>

#include "app/folder_list.h"
#include "app/messages.h"
#include "app/scan_context.h"
#include "runtime/directory_search.h"
#include "runtime/error_numbers.h"
#include "runtime/file_channels.h"
#include "runtime/message_box.h"
#include "runtime/program_entry.h"

namespace mapsweep {
namespace {

// How many names the folder list tries beyond temp.tmp: temp1.tmp to temp999.tmp.
constexpr int kFolderListNames = 999;
constexpr int kRemoveAttempts = 3;
constexpr int kGoUpAttempts = 3;
// The directory attribute in a search's mask asks for folders besides plain files.
constexpr std::uint32_t kFoldersAndFiles = os::kAttributeDirectory;

// Goes one folder up, trying again a few times: a run that cannot get back must stop
// where it is, so a passing failure should not end it.
bool go_up(Runtime& rt) {
  for (int attempt = 0; attempt < kGoUpAttempts; ++attempt) {
    const bool back = change_directory(rt, ByteString(".."));
    const bool failed = rt.err.take_failure();
    if (back && !failed) return true;
  }
  return false;
}

// A box of the run's in the language the run speaks.
int show_message(DriverState& ctx, Message text, std::uint32_t style) {
  return message_box(ctx.rt, ByteString(message(text, ctx.options.language)), ByteString(),
                     style);
}

// Runs one of the map list builder's routines. Each handles the traps of the recoveries it
// owns; one that still escapes (or storage that ran out outside any operation, which goes
// on record as a failure) ends the routine here, with its data file closed, instead of
// ending the run.
template <class State, class Routine>
void run_routine(Runtime& rt, State& state, Routine routine) {
  try {
    routine(state);
  } catch (const Trap&) {
    close_channel(rt, kDataChannel);
  } catch (const std::bad_alloc&) {
    rt.err.raise_error(rt_error::kOutOfStorage);
    close_channel(rt, kDataChannel);
  }
  rt.err.take_failure();
}

// Whether the driver's step that just ran failed. The step handles it itself, so the
// failure is taken, never trapped into a scan's recovery.
bool step_failed(Runtime& rt) {
  return rt.err.take_failure();
}

// Ends a run that cannot go on before it has touched any list, saying why.
void refuse(DriverState& ctx, Message why) {
  show_message(ctx, why, kStyleOk | kStyleErrorIcon);
  step_failed(ctx.rt);
  ctx.rt.exit_status = kExitRefused;
}

// A name from the folder list names a folder of the starting directory only when it is one
// plain component; anything else must not lead the run elsewhere.
bool is_plain_folder_name(const ByteString& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\:*?") == ByteString::npos;
}

// Sibling files a killed run left behind while it was replacing a list.
void remove_leftover_list_siblings(Runtime& rt) {
  remove_leftover_siblings(rt, kListName);
  step_failed(rt);
}

// Removes the folder list, trying again a few times: a file that another program (a virus
// scanner, say) has open for a moment would otherwise stay behind.
void remove_folder_list(DriverState& ctx) {
  Runtime& rt = ctx.rt;
  abandon_channel(rt, kFolderNamesChannel);
  for (int attempt = 0; attempt < kRemoveAttempts && !ctx.folder_list_name.empty(); ++attempt) {
    remove_file(rt, ctx.folder_list_name);
    if (!step_failed(rt)) break;
  }
  ctx.folder_list_name.clear();
}

// The folder list is a new file of the run's own: temp.tmp, or the first free tempN.tmp
// when a file, folder or link of the user's has the name in any letter case.
bool create_folder_list(DriverState& ctx) {
  Runtime& rt = ctx.rt;
  for (int n = 0; n <= kFolderListNames; ++n) {
    assign(rt.err, ctx.folder_list_name,
           ByteString(n == 0 ? "temp.tmp" : "temp" + std::to_string(n) + ".tmp"));
    open_channel(rt, kFolderNamesChannel, ctx.folder_list_name, kNewFileMode, kListBufferLength);
    if (!step_failed(rt)) return true;
    if (rt.err.number() != rt_error::kFileAlreadyExists) break;
  }
  ctx.folder_list_name.clear();
  return false;
}

// The marker line (folder_list.h), then every entry of the starting directory whose name
// holds no "." (so that files with an extension, version-numbered folders and the
// program's own lists are left out), each as a quoted field, so that commas, leading
// spaces, TABs and line breaks read back whole. A name holding a double quote could not be
// quoted and is left out.
bool write_folder_list(DriverState& ctx) {
  Runtime& rt = ctx.rt;
  if (!create_folder_list(ctx)) return false;
  // The marker first, so that a run that finds this list left behind knows it.
  write_item(rt, kFolderNamesChannel, ByteString(kFolderListMarker));
  end_line(rt, kFolderNamesChannel);
  bool written = !step_failed(rt);
  const ByteString quote = char_string(rt.err, '"');
  assign(rt.err, ctx.directory_entry, search_first(rt, ByteString("*"), kFoldersAndFiles));
  while (!ctx.directory_entry.empty()) {
    if (count_occurrences(ctx.directory_entry, ByteString(".")) == 0 &&
        count_occurrences(ctx.directory_entry, quote) == 0) {
      write_item(rt, kFolderNamesChannel,
                 concat(rt.err, concat(rt.err, quote, ctx.directory_entry), quote));
      end_line(rt, kFolderNamesChannel);
      written = !step_failed(rt) && written;
      ++ctx.folder_count;
    }
    assign(rt.err, ctx.directory_entry, search_next(rt));
  }
  written = search_listed_whole(rt) && written;
  close_channel(rt, kFolderNamesChannel);
  written = !step_failed(rt) && written;
  if (!written) remove_folder_list(ctx);
  return written;
}

// Opens the folder list and reads past its marker line to the first folder name.
bool open_folder_list_for_reading(DriverState& ctx) {
  Runtime& rt = ctx.rt;
  open_channel(rt, kFolderNamesChannel, ctx.folder_list_name, kInputMode, kInputBufferLength);
  if (!step_failed(rt)) {
    const ByteString marker = read_line(rt, kFolderNamesChannel);
    if (!step_failed(rt) && marker == kFolderListMarker) return true;
  }
  remove_folder_list(ctx);
  return false;
}

// The maps sub-folder: the first entry named maps in any letter case, in directory order,
// that is a folder. A plain file so named is passed over; a folder that cannot be entered
// ends the look (the failure it raised marks the folder's scan incomplete), and so does a
// game folder that cannot be listed (`listed` turns false).
bool enter_maps_folder(DriverState& ctx, bool& listed) {
  Runtime& rt = ctx.rt;
  ByteString entry = search_first(rt, ByteString("MAPS"), kFoldersAndFiles);
  while (!entry.empty()) {
    if (compare(to_upper(rt.err, entry), ByteString("MAPS")) == 0) {
      const std::uint64_t raised = rt.err.raised_count();
      const bool entered = change_directory(rt, entry);
      step_failed(rt);
      if (entered) return true;
      if (rt.err.raised_count() != raised) return false;
    }
    entry = search_next(rt);
  }
  step_failed(rt);
  listed = search_listed_whole(rt);
  return false;
}

// Runs the loose map-file scan when the folder has a maps sub-folder, staying in it.
// Returns whether it found map files; `listed` turns false when the game folder or the maps
// folder could not be listed whole.
bool scan_maps_folder(ScanContext& run, bool& listed) {
  DriverState& ctx = run.driver;
  Runtime& rt = ctx.rt;
  if (!enter_maps_folder(ctx, listed)) return false;
  ctx.in_maps = true;
  run_routine(rt, run, run.scans.scan_map_files);
  listed = search_listed_whole(rt);
  return !ctx.nothing_found;
}

// Back from the maps sub-folder, if the scan went there. Returns false only when the run
// could not get back out of it.
bool leave_maps_folder(DriverState& ctx) {
  if (!ctx.in_maps) return true;
  ctx.in_maps = false;
  return go_up(ctx.rt);
}

// Why a list could not be replaced or removed, for the report.
const char* list_refusal(int number) {
  if (number == rt_error::kPermissionDenied) return "held by another program: left as it was";
  if (number == rt_error::kAccessDenied) return "read-only, a link or no file: left as it was";
  return "could not be written: left as it was";
}

// Removes the game folder's list under every letter case it has there. Windows keeps one
// file under all of them; elsewhere a stale MAPS.LST beside the removed maps.lst would be
// read as the folder's list. A variant that is a link, read-only or held by another program
// stays, and the report says why.
void remove_folder_lists(DriverState& ctx) {
  Runtime& rt = ctx.rt;
  const std::vector<ByteString> variants = names_in_any_case(rt, ByteString(kListName));
  step_failed(rt);
  for (const ByteString& name : variants) {
    remove_plain_file(rt, name);
    if (step_failed(rt)) {
      note_passed_over(ctx, ctx.folder_name + "/" + name, list_refusal(rt.err.number()));
    } else {
      ++ctx.report.lists_removed;
    }
  }
}

// Closes a list's channel, which replaces the list when its bytes changed. False when it
// could not be replaced (noted in the report under `path`); `changed` tells whether the
// file's bytes changed.
bool close_list(DriverState& ctx, std::int16_t channel, const ByteString& path, bool& changed) {
  Runtime& rt = ctx.rt;
  close_channel(rt, channel);
  if (step_failed(rt)) {
    note_passed_over(ctx, path, list_refusal(rt.err.number()));
    return false;
  }
  changed = last_close_changed_file(rt);
  return true;
}

// Closes a list's channel and consolidates the list. Returns whether the list now stands
// as written: false when it could not be replaced (noted in the report under `path`).
// `changed` tells whether either step changed the file's bytes.
bool close_and_consolidate(DriverState& ctx, std::int16_t channel, const ByteString& path,
                           bool& changed) {
  Runtime& rt = ctx.rt;
  if (!close_list(ctx, channel, path, changed)) return false;
  rt.err.arm_recovery(kGeneralRecovery);
  run_routine(rt, ctx, list_consolidation);
  changed = changed || ctx.consolidation_changed_file;
  return true;
}

// The game folder's list whose lines were collected as they were written: closed as it
// stands when the consolidation keeps every line, else written once more without the lines
// that go. False when it could not be written; it is then left as it was.
bool settle_collected_list(DriverState& ctx, const ByteString& path, bool& changed) {
  Runtime& rt = ctx.rt;
  rt.err.arm_recovery(kGeneralRecovery);
  run_routine(rt, ctx, collected_list_consolidation);
  // Still open when every line stays: the file holds the consolidated list already.
  if (channel_is_open(rt, kFolderListChannel)) {
    return close_list(ctx, kFolderListChannel, path, changed);
  }
  if (ctx.consolidation_failed) {
    note_passed_over(ctx, path, list_refusal(rt.err.number()));
    return false;
  }
  changed = ctx.consolidation_changed_file;
  return true;
}

// What becomes of the folder's list once both scans ran. An incomplete scan (a file that
// could not be read, a folder that could not be listed) never replaces or removes a list
// that is there; without one, the folder gets what was found. The report tells a list
// whose bytes changed from one that came out the same and was left as it was.
void settle_folder_list(DriverState& ctx, bool complete, bool found) {
  Runtime& rt = ctx.rt;
  if (channel_write_failed(rt, kFolderListChannel)) ctx.lines_lost = true;
  const bool replaces = channel_replaces_file(rt, kFolderListChannel);
  RunReport& report = ctx.report;
  if (!found || (!complete && replaces)) {
    abandon_channel(rt, kFolderListChannel);
    if (!found && complete && replaces) {
      remove_folder_lists(ctx);
    } else if (replaces) {
      ++report.lists_kept;
    }
    return;
  }
  bool changed = false;
  const ByteString path = ctx.folder_name + "/" + kListName;
  const bool settled = complete && ctx.collecting_folder_lines
                           ? settle_collected_list(ctx, path, changed)
                           : close_and_consolidate(ctx, kFolderListChannel, path, changed);
  if (settled) ++(changed ? report.lists_written : report.lists_unchanged);
}

// Opens a list for replacing; a list that cannot be is noted in the report.
bool open_list(DriverState& ctx, std::int16_t channel, const ByteString& where) {
  Runtime& rt = ctx.rt;
  open_channel(rt, channel, ByteString(kListName), kOutputMode, kListBufferLength);
  if (!rt.err.take_failure()) return true;
  note_passed_over(ctx, where + kListName, list_refusal(rt.err.number()));
  return false;
}

// Works on the current game folder. Returns false only when the run could not get back
// from its maps sub-folder, so that nothing is written or deleted in the wrong place.
bool work_on_game_folder(ScanContext& run) {
  DriverState& ctx = run.driver;
  Runtime& rt = ctx.rt;
  remove_leftover_list_siblings(rt);
  // A list that cannot be opened (a link, read-only, held by another program) is left as
  // it is; the folder is still scanned for the combined list.
  const bool list_open = open_list(ctx, kFolderListChannel, ctx.folder_name + "/");
  ctx.entry_count = 0;
  ctx.collecting_folder_lines = list_open;
  const std::uint64_t raised_before = rt.err.raised_count();
  ctx.nothing_found = false;
  ctx.incomplete = false;
  run_routine(rt, run, run.scans.scan_archives);
  const bool archives_listed = search_listed_whole(rt);
  const bool archives_found = !ctx.nothing_found;
  bool map_files_listed = true;
  const bool map_files_found = scan_maps_folder(run, map_files_listed);
  // A mode that holds its lines until both scans are done writes them now; a line that
  // could not be written makes the folder's lines incomplete just as a file that could not
  // be read.
  run_routine(rt, run, run.scans.write_found_maps);
  const bool complete = archives_listed && map_files_listed && !ctx.incomplete &&
                        rt.err.raised_count() == raised_before;
  if (!complete) ++ctx.folders_incomplete;
  rt.err.arm_recovery(kGeneralRecovery);
  if (!leave_maps_folder(ctx)) return false;
  ctx.nothing_found = false;
  // A folder keeps its list when either scan found a file: archives holding maps next to
  // an empty maps sub-folder still yield their lines.
  if (list_open) settle_folder_list(ctx, complete, archives_found || map_files_found);
  return true;
}

// Enters the named game folder, works on it and comes back. Returns false when the run
// lost its way back to the starting directory. A name that leads to the starting directory
// or above it (a link to "..", say) is no game folder: visiting it would write there.
bool visit_game_folder(ScanContext& run) {
  DriverState& ctx = run.driver;
  Runtime& rt = ctx.rt;
  if (!is_plain_folder_name(ctx.folder_name)) return true;
  ++ctx.folder_index;
  const bool above = encloses_current_directory(rt, ctx.folder_name);
  step_failed(rt);
  if (above) {
    note_passed_over(ctx, ctx.folder_name, "leads to the starting folder or above it: not visited");
    return true;
  }
  const bool entered = change_directory(rt, ctx.folder_name);
  step_failed(rt);
  if (!entered) {
    // A file among the folders is no game folder; a folder that could not be entered is
    // one whose maps a catalogue would miss. Asked only where a catalogue is written, so
    // that the lists' runs make the calls they always made.
    if (ctx.options.catalog != nullptr) {
      if (is_folder(rt, ctx.folder_name)) ++ctx.folders_incomplete;
      step_failed(rt);
    }
    return true;
  }
  ++ctx.report.folders_visited;
  note_bytes_read(ctx, 0);
  const bool worked = work_on_game_folder(run);
  // Whatever the folder left open must not be finished elsewhere.
  abandon_channel(rt, kFolderListChannel);
  ctx.lost = !worked || !go_up(rt);
  return !ctx.lost;
}

// Visits every listed folder. Returns false when the run stopped before the end of the
// list: it could not read on, or lost its way back to the starting directory.
bool visit_listed_folders(ScanContext& run) {
  DriverState& ctx = run.driver;
  Runtime& rt = ctx.rt;
  for (;;) {
    const bool done = at_end(rt, kFolderNamesChannel) != 0;
    if (step_failed(rt)) return false;
    if (done) return true;
    assign(rt.err, ctx.folder_name, read_field(rt, kFolderNamesChannel));
    // A field that cannot be read does not advance the list; reading on could not end.
    if (step_failed(rt)) return false;
    if (!visit_game_folder(run)) return false;
  }
}

// Replaces the combined list with what the visits wrote and consolidates it; a list that
// could not be written whole stays as it was.
void finish_combined_list(ScanContext& run) {
  DriverState& ctx = run.driver;
  bool changed = false;
  // The consolidation that follows holds every line of the run at once: the peak of its
  // memory. What the visits freed goes back first, rather than lie in pieces beside it.
  release_free_memory(ctx.rt);
  ctx.fold_name_case = run.scans.fold_name_case;
  const bool closed =
      close_and_consolidate(ctx, kCombinedListChannel, ByteString(kListName), changed);
  ctx.fold_name_case = false;
  if (!closed) return;
  ctx.report.combined = changed ? CombinedList::kWritten : CombinedList::kUnchanged;
  ctx.report.maps_listed = ctx.consolidated_lines;
}

// The program's main routine over the run's state.
void main_routine(ScanContext& run) {
  DriverState& ctx = run.driver;
  Runtime& rt = ctx.rt;
  build_driver_state(ctx);
  run.scans.start(run);
  step_failed(rt);
  if (!lock_current_directory(rt)) return refuse(ctx, Message::kAnotherRun);
  const int answer = show_message(ctx, Message::kStartQuestion, kStyleYesNo);
  step_failed(rt);
  if (answer == kButtonNo) {
    ctx.report.declined = true;
    return;
  }

  remove_leftover_list_siblings(rt);
  // Before a name is chosen for this run's folder list: a killed run's list would
  // otherwise keep temp.tmp from it for good. The lock keeps every running run out.
  remove_leftover_folder_lists(rt);
  // No list is touched unless the folders to visit are known.
  if (!write_folder_list(ctx) || !open_folder_list_for_reading(ctx)) {
    return refuse(ctx, Message::kNoFolderList);
  }
  // A combined list that cannot be opened (a link, read-only, held by another program) is
  // left as it was; the folder lists are still written.
  open_list(ctx, kCombinedListChannel, ByteString());
  const bool visited_all = visit_listed_folders(run);
  close_channel(rt, kFolderNamesChannel);
  step_failed(rt);
  // Stopped half-way, lost on the way back, or with lines lost on their way to it, the run
  // must not replace the combined list with part of one, nor rewrite or delete anything
  // where it stands.
  if (visited_all && !ctx.lines_lost && channel_is_open(rt, kCombinedListChannel)) {
    finish_combined_list(run);
  }
  abandon_all_channels(rt);
  if (visited_all && !ctx.lost) run.scans.complete(run);
  if (!ctx.lost) remove_folder_list(ctx);
  if (ctx.options.progress != nullptr) ctx.options.progress->finish();
  show_message(ctx, Message::kProgramEnd, kStyleOk);
  step_failed(rt);
}

}  // namespace

void build_map_lists(Runtime& rt, const RunOptions& options) {
  ScanContext run(rt, options);
  run_routine(rt, run, main_routine);
  run.scans.finish(run);
  release_driver_state(run.driver);
  rt.err.take_failure();
}

void WINMAIN(Runtime& rt) {
  build_map_lists(rt, {ScanMode::kByteSearch, nullptr, nullptr});
}

void exact_main(Runtime& rt) {
  build_map_lists(rt, {ScanMode::kExact, nullptr, nullptr});
}

}  // namespace mapsweep
