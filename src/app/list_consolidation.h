// The selection rule of the list consolidation, apart from its file handling so that it can
// be checked against the pair-by-pair comparison it replaces.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/string_array.h"

namespace mapsweep {

// The indices, ascending, of the entries 1..count that stay: non-empty, not a proper
// beginning of another entry, and not a repeat of an earlier entry. O(n log n) comparisons.
// Throws std::bad_alloc when its working storage cannot be had.
std::vector<std::int32_t> lines_that_stay(const StringArray& lines, std::int32_t count);
// Of the `staying` indices, in their order, those whose line is not an earlier one's with
// the map name (what stands before ` "`) in another ASCII letter case: a game that loads
// names in any letter case has one map under both. Throws std::bad_alloc likewise.
std::vector<std::int32_t> without_name_case_variants(const StringArray& lines,
                                                     const std::vector<std::int32_t>& staying);

}  // namespace mapsweep
