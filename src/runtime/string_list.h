// A list of byte strings that only ever grows at its end and is emptied as a whole: the
// names an archive yields, which can run into millions. Each element costs its own bytes
// plus four, instead of a string object each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/error_state.h"

namespace mapsweep {

struct StringList {
  std::string bytes;                // every element's bytes, back to back
  std::vector<std::uint32_t> ends;  // element i (1-based) ends at ends[i - 1]
};

// Stores value as element `index` (1-based), past the last one stored; the elements in
// between stay empty. An index at or below the last one stored raises rt_error::kSubscript;
// no storage, or more than 4 GiB of bytes, rt_error::kOutOfStorage. Nothing is stored then.
void store_element(ErrorState& err, StringList& list, std::int32_t index, std::string_view value);
// Element `index`, or the empty string outside the list.
std::string_view element(const StringList& list, std::int32_t index);
// Empties the list and gives its storage back.
void release_list(StringList& list);

}  // namespace mapsweep
