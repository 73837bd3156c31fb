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

}  // namespace mapsweep
