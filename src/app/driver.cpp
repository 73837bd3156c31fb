// The program's main routine: asks whether to start, lists the game folders of the starting
// directory, visits each one (archives, loose map files, consolidation of its maps.lst)
// and finally consolidates the combined maps.lst there. The driver's own steps handle
// their failures themselves: a folder that cannot be worked on is skipped, the run always
// returns to the starting directory, and no trap leaves the driver.
#include <new>

#include "app/scan_context.h"
#include "runtime/directory_search.h"
#include "runtime/file_channels.h"
#include "runtime/message_box.h"

namespace mapsweep {
namespace {

constexpr char kStartQuestionTitle[] = "https://mapsweep.example/";
// The directory attribute in a search's mask asks for folders besides plain files.
constexpr std::uint32_t kFoldersAndFiles = os::kAttributeDirectory;

ByteString folder_list_name() {
  return ByteString("temp.tmp");
}
ByteString parent() {
  return ByteString("..");
}

ByteString start_question(ErrorState& err) {
  const ByteString line_break = concat(err, char_string(err, 10), char_string(err, 13));
  ByteString text =
      concat(err, ByteString("Programm durchsucht alle Pak.Pak und *.BSP "), line_break);
  text = concat(err, text, ByteString("nach Mapnamen und schreibt sie in die jeweilige maps.lst"));
  text = concat(err, text, line_break);
  return concat(err, text, ByteString("Starten ?"));
}

// Runs one of the map list builder's routines. Each handles the traps of the recoveries it
// owns; one that still escapes (or storage that ran out outside any operation) ends the
// routine here, with its data file closed, instead of ending the run.
template <class Routine>
void run_routine(ScanContext& ctx, Routine routine) {
  try {
    routine(ctx);
  } catch (const Trap&) {
    close_channel(ctx.rt, kDataChannel);
  } catch (const std::bad_alloc&) {
    close_channel(ctx.rt, kDataChannel);
  }
  ctx.rt.err.take_failure();
}

// Whether the driver's step that just ran failed. The step handles it itself, so the
// failure is taken, never trapped into a scan's recovery.
bool step_failed(Runtime& rt) {
  return rt.err.take_failure();
}

// A name from the folder list names a folder of the starting directory only when it is one
// plain component; anything else (a piece of a name split at a comma included) must not
// lead the run elsewhere.
bool is_plain_folder_name(const ByteString& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\:*?") == ByteString::npos;
}

// Whether a name written to the folder list reads back as itself or as pieces of itself:
// a 0x1A byte would end the list there, and a leading double quote would open a quoted
// field that swallows the names after it.
bool reads_back_safely(const ByteString& name) {
  if (name.find('\x1A') != ByteString::npos) return false;
  const std::size_t first = name.find_first_not_of(' ');
  return first == ByteString::npos || name[first] != '"';
}

// temp.tmp: every entry of the starting directory whose name holds no ".", so that files
// with an extension, version-numbered folders and the program's own lists are left out.
bool write_folder_list(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  open_channel(rt, kFolderNamesChannel, folder_list_name(), kOutputMode, kInputBufferLength);
  if (step_failed(rt)) return false;
  assign(rt.err, ctx.directory_entry, search_first(rt, ByteString("*"), kFoldersAndFiles));
  while (!ctx.directory_entry.empty()) {
    if (count_occurrences(ctx.directory_entry, ByteString(".")) == 0 &&
        reads_back_safely(ctx.directory_entry)) {
      write_item(rt, kFolderNamesChannel, ctx.directory_entry);
      end_line(rt, kFolderNamesChannel);
      step_failed(rt);
    }
    assign(rt.err, ctx.directory_entry, search_next(rt));
  }
  close_channel(rt, kFolderNamesChannel);
  step_failed(rt);
  return true;
}

bool open_folder_list_for_reading(Runtime& rt) {
  open_channel(rt, kFolderNamesChannel, folder_list_name(), kInputMode, kInputBufferLength);
  return !step_failed(rt);
}

// The maps sub-folder, in any letter case. An entry that cannot be entered (a plain file
// named maps, say) counts as none, so the scan never runs in the game folder by mistake.
bool enter_maps_folder(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  const ByteString entry = search_first(rt, ByteString("MAPS"), kFoldersAndFiles);
  if (compare(to_upper(rt.err, entry), ByteString("MAPS")) != 0) {
    step_failed(rt);
    return false;
  }
  const bool entered = change_directory(rt, entry);
  step_failed(rt);
  return entered;
}

// Runs the loose map-file scan when the folder has a maps sub-folder, staying in it.
bool scan_maps_folder(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  if (!enter_maps_folder(ctx)) return false;
  ctx.in_maps = true;
  rt.err.arm_recovery(kMapFileRecovery);
  run_routine(ctx, map_file_scan);
  return !ctx.nothing_found;
}

// Back from the maps sub-folder, if the scan went there. Returns false only when the run
// could not get back out of it.
bool leave_maps_folder(ScanContext& ctx) {
  if (!ctx.in_maps) return true;
  ctx.in_maps = false;
  const bool back = change_directory(ctx.rt, parent());
  step_failed(ctx.rt);
  return back;
}

// Works on the current game folder. Returns false only when the run could not get back
// from its maps sub-folder, so that nothing is written or deleted in the wrong place.
bool work_on_game_folder(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  open_channel(rt, kFolderListChannel, ByteString(kListName), kOutputMode, kInputBufferLength);
  if (step_failed(rt)) return true;
  ctx.nothing_found = false;
  run_routine(ctx, archive_scan);
  const bool archives_found = !ctx.nothing_found;
  const bool map_files_found = scan_maps_folder(ctx);
  rt.err.arm_recovery(kGeneralRecovery);
  const bool back_in_folder = leave_maps_folder(ctx);
  close_channel(rt, kFolderListChannel);
  step_failed(rt);
  if (!back_in_folder) return false;
  ctx.nothing_found = false;
  // A folder keeps its list when either scan found a file: archives holding maps next to
  // an empty maps sub-folder still yield their lines.
  if (archives_found || map_files_found) {
    run_routine(ctx, list_consolidation);
  } else {
    delete_files(rt, ByteString(kListName));
    step_failed(rt);
  }
  return true;
}

// Enters the named game folder, works on it and comes back. Returns false when the run
// lost its way back to the starting directory.
bool visit_game_folder(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  if (!is_plain_folder_name(ctx.folder_name)) return true;
  const bool entered = change_directory(rt, ctx.folder_name);
  step_failed(rt);
  if (!entered) return true;
  if (!work_on_game_folder(ctx)) return false;
  const bool back = change_directory(rt, parent());
  step_failed(rt);
  return back;
}

// Returns false when the run could not get back to the starting directory.
bool visit_listed_folders(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  for (;;) {
    const bool done = at_end(rt, kFolderNamesChannel) != 0;
    if (step_failed(rt) || done) return true;
    assign(rt.err, ctx.folder_name, read_field(rt, kFolderNamesChannel));
    // A field that cannot be read does not advance the list; reading on could not end.
    if (step_failed(rt)) return true;
    if (!visit_game_folder(ctx)) return false;
  }
}

void consolidate_combined_list(ScanContext& ctx) {
  ctx.rt.err.arm_recovery(kGeneralRecovery);
  run_routine(ctx, list_consolidation);
}

void run(ScanContext& ctx) {
  Runtime& rt = ctx.rt;
  build_scan_context(ctx);
  step_failed(rt);
  const int answer =
      message_box(rt, start_question(rt.err), ByteString(kStartQuestionTitle), kStyleYesNo);
  step_failed(rt);
  if (answer == kButtonNo) return;

  // A combined list that cannot be opened (read-only, held by another program) is left as
  // it was; the folder lists are still written.
  open_channel(rt, kCombinedListChannel, ByteString(kListName), kOutputMode, kInputBufferLength);
  const bool combined_list_open = !step_failed(rt);

  const bool folder_list_written = write_folder_list(ctx);
  bool in_starting_directory = true;
  if (folder_list_written && open_folder_list_for_reading(rt)) {
    in_starting_directory = visit_listed_folders(ctx);
  }
  close_channel(rt, kFolderNamesChannel);
  close_all_channels(rt);
  step_failed(rt);

  // Lost on the way back, the run must not rewrite or delete anything where it stands.
  if (in_starting_directory) {
    if (combined_list_open) consolidate_combined_list(ctx);
    close_all_channels(rt);
    if (folder_list_written) delete_files(rt, folder_list_name());
    step_failed(rt);
  }
  message_box(rt, ByteString("Programmende"), ByteString(), kStyleOk);
  step_failed(rt);
}

}  // namespace

void WINMAIN(Runtime& rt) {
  ScanContext ctx(rt);
  run_routine(ctx, run);
  release_scan_context(ctx);
  rt.err.take_failure();
}

}  // namespace mapsweep
