// The folder list's own shape, by which a run knows a folder list that a killed run left
// behind from a file of the user's that happens to have its name.
//
// A folder list is the marker line, then one line per game folder: the name in double
// quotes, every line ended by CR LF. The marker is unquoted, so no folder name can be it;
// a name holds no double quote, no "." (such entries are never listed), no NUL and no "/".
#pragma once

#include <cstddef>
#include <string_view>

#include "runtime/byte_string.h"

namespace mapsweep {

struct Runtime;

inline constexpr char kFolderListMarker[] = "mapsweep folder list";

// Takes a file's bytes piece by piece and tells whether they are a whole folder list as a
// run writes it: nothing more, nothing less, no line cut short.
class FolderListShape {
 public:
  void feed(std::string_view bytes);
  bool whole() const;
  // Whether the bytes so far can no longer be one, whatever follows.
  bool refused() const;

 private:
  enum class Expect { kMarker, kLineStart, kFirstNameByte, kName, kCr, kLf, kNothing };
  void take(unsigned char byte);

  Expect expect_ = Expect::kMarker;
  std::size_t marker_index_ = 0;  // in the marker line, CR LF included
};

// Whether `name` is one a run gives its folder list: temp.tmp, or temp1.tmp to
// temp999.tmp, spelt exactly so.
bool is_folder_list_name(std::string_view name);

// Removes every folder list of a killed run from the current directory: a plain file (no
// link, folder, device, read-only or hidden file) with a folder list's name and a whole
// folder list's bytes. Anything else is left as it is; candidates are only ever read.
// The caller must hold the folder's lock, so that no running run's list is taken. Raises
// nothing.
void remove_leftover_folder_lists(Runtime& rt);

}  // namespace mapsweep
