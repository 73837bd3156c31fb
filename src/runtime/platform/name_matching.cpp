#include "runtime/platform/name_matching.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

namespace mapsweep::os {

bool wildcard_match(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_name = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || ascii_upper(pattern[p]) == ascii_upper(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Where two names first differ in their raw bytes, from `from` on: words of eight bytes
// at a time, as names in one folder mostly share a long start.
namespace {

std::size_t first_difference(std::string_view a, std::string_view b, std::size_t from,
                             std::size_t common) {
  std::size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= common; i += 8) {
      std::uint64_t x = 0;
      std::uint64_t y = 0;
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
    }
  }
  while (i < common && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

// The order NTFS lists a folder in: upper-cased bytes, ties broken by the raw bytes.
// Sorting a large folder compares names a million times: equal raw bytes are equal when
// folded too, so only the bytes that differ are folded.
bool ntfs_less(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = first_difference(a, b, 0, common); i < common;
       i = first_difference(a, b, i + 1, common)) {
    const unsigned char x = ascii_upper(a[i]);
    const unsigned char y = ascii_upper(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a.compare(b) < 0;  // char_traits<char> compares as unsigned bytes
}

namespace {

// The first eight bytes of a name, upper-cased, as one number that orders names as
// ntfs_less does wherever they differ there (a name shorter than eight bytes ends in zeros,
// and no name holds a zero byte).
std::uint64_t ntfs_key(std::string_view name) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    key = key << 8 | (i < name.size() ? ascii_upper(name[i]) : 0u);
  }
  return key;
}

}  // namespace

// Puts a folder's entries in NTFS order. A large folder's names are compared a million
// times: most comparisons are settled on the keys, and the entries, forty bytes each, are
// moved once at the end rather than at every step.
void sort_in_ntfs_order(std::vector<FindData>& entries) {
  struct Keyed {
    std::uint64_t key;
    std::size_t index;
  };
  std::vector<Keyed> order(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) order[i] = {ntfs_key(entries[i].name), i};
  std::sort(order.begin(), order.end(), [&](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return a.key < b.key;
    return ntfs_less(entries[a.index].name, entries[b.index].name);
  });
  // Place i takes the entry at order[i].index: each cycle of that permutation is followed
  // once, and a followed place is marked with the index it can never have.
  constexpr std::size_t kPlaced = SIZE_MAX;
  for (std::size_t start = 0; start < entries.size(); ++start) {
    if (order[start].index == kPlaced) continue;
    FindData held = std::move(entries[start]);
    std::size_t place = start;
    for (;;) {
      const std::size_t from = std::exchange(order[place].index, kPlaced);
      if (from == start) break;
      entries[place] = std::move(entries[from]);
      place = from;
    }
    entries[place] = std::move(held);
  }
}

}  // namespace mapsweep::os
