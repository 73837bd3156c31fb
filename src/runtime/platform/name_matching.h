// Name matching the way Windows file names match, shared by every platform file: ASCII
// letters equal in either case (other bytes exact), '*' and '?' wildcards.
#pragma once

#include <string_view>
#include <vector>

#include "base/ascii_case.h"
#include "runtime/platform/os.h"

namespace mapsweep::os {

// As a byte, for ordering: NTFS orders upper-cased names by their unsigned bytes.
inline unsigned char ascii_upper(char c) {
  return static_cast<unsigned char>(ascii::upper(c));
}
// '*' matches any run of bytes (also none), '?' exactly one byte, ASCII letters in either
// case. Only the last star is ever backtracked to, so a hostile pattern costs at most
// quadratic time.
bool wildcard_match(std::string_view pattern, std::string_view name);
// Equal but for the letter case of ASCII letters.
inline bool same_ignoring_case(std::string_view a, std::string_view b) {
  return ascii::equal_ignoring_case(a, b);
}
// The order NTFS lists a folder in: upper-cased bytes, ties broken by the raw bytes.
bool ntfs_less(std::string_view a, std::string_view b);
// Puts a folder's entries in the order NTFS lists them.
void sort_in_ntfs_order(std::vector<FindData>& entries);

}  // namespace mapsweep::os
