// Byte search on x86-64 with SSE2 alone (see byte_search_sse2.h). Chosen where wider
// vectors cannot be used safely: 64-bit Windows keeps the stack 16-byte aligned, and GCC
// does not realign it for spilled 32-byte vectors.
#include "runtime/byte_search_sse2.h"

#include "runtime/byte_search.h"

namespace mapsweep {

std::size_t find_bytes(std::string_view text, std::string_view needle, std::size_t from) {
  std::size_t found = 0;
  if (byte_search::trivial_case(text, needle, from, found)) return found;
  return byte_search::find_sse2(text, needle, from);
}

FirstOfEach find_each(std::string_view text, std::string_view a, std::string_view b) {
  return {find_bytes(text, a), find_bytes(text, b)};
}

}  // namespace mapsweep
