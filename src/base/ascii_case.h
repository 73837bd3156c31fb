// ASCII letter case, the only case the system folds: names in archives, map names in lists
// and file names on disk compare equal when only the letters a-z and A-Z differ in case;
// every other byte (code-page letters included) stays as it is. Depends on nothing, so that
// every layer, the format readers too, folds the same way.
#pragma once

#include <string>
#include <string_view>

namespace mapsweep::ascii {

constexpr char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string upper(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = upper(c);
  return folded;
}

inline std::string lower(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = lower(c);
  return folded;
}

// Equal but for the letter case of ASCII letters.
constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

}  // namespace mapsweep::ascii
