// Finding a run of bytes in a longer one, fast enough that scanning a file costs a fraction
// of reading it. One implementation per processor family is compiled in (byte_search_*.cpp,
// chosen in CMakeLists.txt); all give std::string_view::find's answer.
#pragma once

#include <cstddef>
#include <string_view>

namespace mapsweep {

// The offset of the first occurrence of needle that starts at or after `from` and lies
// wholly inside text, or std::string_view::npos. An empty needle is found at `from` when
// `from` is at most text's length.
std::size_t find_bytes(std::string_view text, std::string_view needle, std::size_t from = 0);

// The first occurrences of two needles in text, each as find_bytes(text, needle) gives it,
// found in one pass where vectors allow: a scan that looks for both in every block of a
// file reads each byte once instead of twice.
struct FirstOfEach {
  std::size_t a;
  std::size_t b;
};
FirstOfEach find_each(std::string_view text, std::string_view a, std::string_view b);

}  // namespace mapsweep
