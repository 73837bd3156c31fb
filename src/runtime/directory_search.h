// The one directory search of the process, the change of the current directory and the
// deletion of files by pattern. Names and patterns are byte strings resolved against the
// current directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "runtime/byte_string.h"
#include "runtime/platform/os.h"

namespace mapsweep {

struct Runtime;

struct SearchState {
  os::Handle handle = os::kInvalidHandle;
  std::uint32_t mask = 0;       // the reduced mask: hidden, system, volume label, directory
  bool exhausted = false;       // no entry left; stays so until the next search_first
  bool listing_failed = false;  // the folder could not be listed, or not to its end
};

// A lock on a folder that keeps a second run out of it.
struct FolderLock {
  os::Handle handle = os::kInvalidHandle;
};

// First entry matching pattern whose hidden/system/directory attributes are all in mask;
// empty when none. An empty pattern continues the current search. Never raises; clears the
// error state each time it asks the system.
ByteString search_first(Runtime& rt, const ByteString& pattern, std::uint32_t mask);
ByteString search_next(Runtime& rt);
// Ends the search, if one is open, so that it holds no folder open.
void end_search(Runtime& rt);
// Enters path. Wildcards: rt_error::kPathNotFound. A translated failure raises its number;
// a refusal with a code of 40 or more (not a folder, an invalid name) passes silently.
// Returns whether the directory was entered, for callers that must not go on elsewhere.
bool change_directory(Runtime& rt, const ByteString& path);
// Deletes the plain files matching pattern (never folders, hidden or system files).
void delete_files(Runtime& rt, const ByteString& pattern);
// The same, for only those of the matching names that `wanted` accepts: a pattern's
// wildcards and letter case let in more than some callers may delete.
void delete_files(Runtime& rt, const ByteString& pattern,
                  const std::function<bool(std::string_view)>& wanted);
// Deletes the one file of this name, and only it.
void remove_file(Runtime& rt, const ByteString& name);
// As remove_file, but a link, folder or device of that name stays too (raising
// rt_error::kAccessDenied): what is removed is a file of the program's own making.
void remove_plain_file(Runtime& rt, const ByteString& name);
// The names of the plain files that are `name` in some letter case, as the search finds
// them (one at most where names are compared without case). Uses and ends the search.
std::vector<ByteString> names_in_any_case(Runtime& rt, const ByteString& name);
// Whether the entry of this name is a plain file as it stands, links not followed: no
// folder, link, device, read-only, hidden or system file. A failure to ask raises and
// answers false.
bool is_plain_file(Runtime& rt, const ByteString& name);

// Whether the current search listed its folder so far without a failure. A pattern that
// matches nothing is no failure; a folder that cannot be read, or a listing cut short, is.
bool search_listed_whole(const Runtime& rt);

// Takes the lock on the current directory that keeps other runs out of it while this one
// works there; false (raising rt_error::kPermissionDenied) when another run holds it.
bool lock_current_directory(Runtime& rt);
void unlock_directory(Runtime& rt);
// Whether the folder named by path, links followed, is the current directory or one of
// its ancestors.
bool encloses_current_directory(Runtime& rt, const ByteString& path);
// Whether `name` is a folder (or a link to one) as the OS looks at it; a failed look says
// no and is raised.
bool is_folder(Runtime& rt, const ByteString& name);
// Gives the memory the process has freed back to the system.
void release_free_memory(Runtime& rt);

}  // namespace mapsweep
