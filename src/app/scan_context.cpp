#include "app/scan_context.h"

#include "runtime/error_numbers.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

ByteString quote(ErrorState& err) {
  return char_string(err, '"');
}

// Writes a line to a list channel, `went_through` judging each step: whether both did.
template <class StepCheck>
bool write_line(Runtime& rt, std::int16_t channel, const ByteString& line, StepCheck went_through) {
  write_item(rt, channel, line);
  if (!went_through()) return false;
  end_line(rt, channel);
  return went_through();
}

// The line goes to the folder list, then to the combined list; a step that did not go
// through keeps it from the rest.
template <class StepCheck>
bool write_line_to_lists(FolderScan& folder, const ByteString& line, StepCheck went_through) {
  if (channel_is_open(folder.rt, kFolderListChannel)) {
    if (!write_line(folder.rt, kFolderListChannel, line, went_through)) return false;
    collect_folder_line(folder, line);
  }
  if (!channel_is_open(folder.rt, kCombinedListChannel)) return true;
  return write_line(folder.rt, kCombinedListChannel, line, went_through);
}

// The line is built once for both lists; one that could not be built is written to
// neither.
template <class StepCheck>
bool write_entry_line_to_lists(FolderScan& folder, const ByteString& name, const ByteString& title,
                               StepCheck went_through) {
  if (!channel_is_open(folder.rt, kFolderListChannel) &&
      !channel_is_open(folder.rt, kCombinedListChannel)) {
    return true;
  }
  const ByteString line = map_entry_line(folder.rt.err, name, title);
  if (!went_through()) return false;
  return write_line_to_lists(folder, line, went_through);
}

// How the byte search checks a step: a failure traps into the recovery armed for it, which
// knows where the scan goes on (with none armed, the failure is dropped).
auto trapping(ErrorState& err) {
  return [&err] {
    err.check_error();
    return true;
  };
}

// How the exact scans check a step: a failure is taken where it happens, as each of their
// steps takes its own.
auto taking(ErrorState& err) {
  return [&err] { return !err.take_failure(); };
}

}  // namespace

void build_driver_state(DriverState& driver) {
  create_array(driver.rt.err, driver.list_lines, 0, kArrayUpperBound);
  driver.rt.err.check_error();
}

void release_driver_state(DriverState& driver) {
  for (ByteString* s : {&driver.folder_name, &driver.directory_entry, &driver.folder_list_name}) {
    ByteString().swap(*s);
  }
  release_array(driver.rt.err, driver.list_lines);
}

ByteString map_entry_line(ErrorState& err, const ByteString& name, const ByteString& title) {
  // Built in one piece: a scan builds a line for every map it finds.
  return concat(err, {name, " ", quote(err), title, quote(err)});
}

void write_map_entry_line(FolderScan& folder, const ByteString& name, const ByteString& title) {
  write_entry_line_to_lists(folder, name, title, trapping(folder.rt.err));
}

void write_list_line(FolderScan& folder, const ByteString& line) {
  write_line_to_lists(folder, line, trapping(folder.rt.err));
}

bool write_map_entry_line_taking_failure(FolderScan& folder, const ByteString& name,
                                         const ByteString& title) {
  return write_entry_line_to_lists(folder, name, title, taking(folder.rt.err));
}

namespace {

const char* data_file_reason(int number) {
  switch (number) {
    case rt_error::kPermissionDenied:
      return "held by another program";
    case rt_error::kFileNotFound:
    case rt_error::kPathNotFound:
      return "gone before it could be read";
    case rt_error::kOutOfStorage:
      return "too large for the memory at hand";
    case rt_error::kAccessDenied:
      return "not readable";
    default:
      return "could not be read";
  }
}

}  // namespace

void note_passed_over(FolderScan& folder, const ByteString& path, const char* reason) {
  folder.report.passed_over.push_back({path, reason});
}

void note_data_file_failure(FolderScan& folder, const ByteString& file_name) {
  if (!folder.rt.err.pending()) return;
  ByteString path = folder.folder_name + "/";
  if (folder.in_maps) path += "maps/";
  note_passed_over(folder, path + file_name, data_file_reason(folder.rt.err.number()));
}

bool take_data_file_failure(FolderScan& folder, const ByteString& file_name) {
  note_data_file_failure(folder, file_name);
  return folder.rt.err.take_failure();
}

void note_bytes_read(FolderScan& folder, std::size_t bytes) {
  folder.bytes_read += bytes;
  if (folder.options.progress != nullptr) {
    folder.options.progress->update(folder.folder_index, folder.folder_count, folder.folder_name,
                                    folder.bytes_read);
  }
}

}  // namespace mapsweep
