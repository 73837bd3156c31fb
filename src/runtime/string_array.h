// One-dimensional arrays of byte strings. They grow on demand: storing beyond the upper
// bound extends the array, and reading beyond it gives the empty string, so no index can
// reach outside storage whatever the data holds.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/byte_string.h"
#include "runtime/error_state.h"

namespace mapsweep {

struct StringArray {
  bool created = false;
  std::int32_t lower = 0;
  std::int32_t upper = -1;
  std::vector<ByteString> elements;  // element i at elements[i - lower]
};

// Creates the array with every element empty; an array already created stays as it is.
// Bounds reversed: rt_error::kSubscript. No storage: rt_error::kOutOfStorage.
void create_array(ErrorState& err, StringArray& array, std::int32_t lower, std::int32_t upper);
// Stores value at index, growing the array past its upper bound when needed. An index
// below the lower bound or an array not created raises rt_error::kSubscript and stores
// nothing.
void assign_element(ErrorState& err, StringArray& array, std::int32_t index,
                    const ByteString& value);
void assign_element(ErrorState& err, StringArray& array, std::int32_t index, ByteString&& value);
// The element at index, or the empty string outside the array.
const ByteString& element(const StringArray& array, std::int32_t index);
// Gives back every element and the array's storage; the array is uncreated afterwards.
void release_array(ErrorState& err, StringArray& array);

}  // namespace mapsweep
