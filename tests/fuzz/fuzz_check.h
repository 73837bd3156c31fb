// What the fuzz targets hold the readers to beyond not crashing: a broken promise aborts,
// which libFuzzer reports like a crash, with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace mapsweep::fuzz {

inline void check(bool holds) {
  if (!holds) std::abort();
}

// Whether `part` is a view into `whole` (an empty view may point anywhere).
inline bool lies_within(std::string_view part, std::string_view whole) {
  if (part.empty()) return true;
  const auto begin = reinterpret_cast<std::uintptr_t>(whole.data());
  const auto at = reinterpret_cast<std::uintptr_t>(part.data());
  return at >= begin && at - begin <= whole.size() && part.size() <= whole.size() - (at - begin);
}

inline std::string_view bytes_of(const unsigned char* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A title goes into a list line `name "title"` that must read back as written: printable
// ASCII only, no quote, no double space, nothing to trim.
inline void check_title(std::string_view title) {
  if (title.empty()) return;
  check(title.front() != ' ' && title.back() != ' ');
  check(title.find("  ") == std::string_view::npos);
  check(title.find('"') == std::string_view::npos);
  for (const char c : title) {
    const auto byte = static_cast<unsigned char>(c);
    check(byte >= 0x20 && byte <= 0x7E);
  }
}

}  // namespace mapsweep::fuzz
