// Byte search for processors without a vector implementation here: the standard library's.
#include "runtime/byte_search.h"

namespace mapsweep {

std::size_t find_bytes(std::string_view text, std::string_view needle, std::size_t from) {
  return text.find(needle, from);
}

FirstOfEach find_each(std::string_view text, std::string_view a, std::string_view b) {
  return {text.find(a), text.find(b)};
}

}  // namespace mapsweep
