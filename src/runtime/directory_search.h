// The one directory search of the process, the change of the current directory and the
// deletion of files by pattern. Names and patterns are byte strings resolved against the
// current directory.
#pragma once

#include <cstdint>

#include "runtime/byte_string.h"
#include "runtime/platform/os.h"

namespace mapsweep {

struct Runtime;

struct SearchState {
  os::Handle handle = os::kInvalidHandle;
  std::uint32_t mask = 0;  // the reduced mask: hidden, system, volume label, directory
  bool exhausted = false;  // no entry left; stays so until the next search_first
};

// First entry matching pattern whose hidden/system/directory attributes are all in mask;
// empty when none. An empty pattern continues the current search. Never raises; clears the
// error state each time it asks the system.
ByteString search_first(Runtime& rt, const ByteString& pattern, std::uint32_t mask);
ByteString search_next(Runtime& rt);
// Enters path. Wildcards: rt_error::kPathNotFound. A translated failure raises its number;
// a refusal with a code of 40 or more (not a folder, an invalid name) passes silently.
// Returns whether the directory was entered, for callers that must not go on elsewhere.
bool change_directory(Runtime& rt, const ByteString& path);
// Deletes the plain files matching pattern (never folders, hidden or system files).
void delete_files(Runtime& rt, const ByteString& pattern);

}  // namespace mapsweep
