// The SSE2 byte search, shared by the x86-64 implementations: every x86-64 processor has
// SSE2. Positions are filtered 32 at a time on the needle's first and last byte, and only
// where both stand at the needle's distance is the needle compared whole: on data where
// that pair is rare, each byte is loaded twice and compared twice.
#pragma once

#include <emmintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/byte_search.h"

namespace mapsweep::byte_search {

inline __m128i load16(const char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Bit j set: position at + j holds the first byte and position at + j + k - 1 the last.
inline std::uint32_t candidates32(const char* at, std::size_t k, __m128i first, __m128i last) {
  const __m128i low =
      _mm_and_si128(_mm_cmpeq_epi8(load16(at), first), _mm_cmpeq_epi8(load16(at + k - 1), last));
  const __m128i high = _mm_and_si128(_mm_cmpeq_epi8(load16(at + 16), first),
                                     _mm_cmpeq_epi8(load16(at + 16 + k - 1), last));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(low)) |
         (static_cast<std::uint32_t>(_mm_movemask_epi8(high)) << 16);
}

// The first occurrence at or after `from` of a needle of at least two bytes that fits in
// the text from `from` on, or npos.
inline std::size_t find_sse2(std::string_view text, std::string_view needle, std::size_t from) {
  const std::size_t n = text.size();
  const std::size_t k = needle.size();
  const char* s = text.data();
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[k - 1]);
  const char* middle = needle.data() + 1;
  std::size_t i = from;
  // A step reads up to byte i + 32 + k - 2, which must lie inside the text.
  for (; i + 32 + k - 1 <= n; i += 32) {
    for (std::uint32_t mask = candidates32(s + i, k, first, last); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      if (std::memcmp(s + at + 1, middle, k - 2) == 0) return at;
    }
  }
  for (; i + k <= n; ++i) {
    if (s[i] == needle[0] && s[i + k - 1] == needle[k - 1] &&
        std::memcmp(s + i + 1, middle, k - 2) == 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

// What every implementation answers the same way: needles that do not fit, empty and
// one-byte needles. True when `found` is the answer.
inline bool trivial_case(std::string_view text, std::string_view needle, std::size_t from,
                         std::size_t& found) {
  const std::size_t n = text.size();
  const std::size_t k = needle.size();
  if (from > n || k > n - from) {
    found = std::string_view::npos;
    return true;
  }
  if (k == 0) {
    found = from;
    return true;
  }
  if (k == 1) {
    const void* at = std::memchr(text.data() + from, needle[0], n - from);
    found = at == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
    return true;
  }
  return false;
}

// Whether both needles are of at least two bytes and fit in the text, as the vector
// searches for both need.
inline bool searchable_together(std::string_view text, std::string_view a, std::string_view b) {
  return a.size() >= 2 && b.size() >= 2 && a.size() <= text.size() && b.size() <= text.size();
}

// The first position of a candidate mask (offset `base`) where the needle stands whole,
// or npos. Every candidate already has the needle's first and last byte.
inline std::size_t first_verified(std::uint64_t mask, const char* s, std::size_t base,
                                  std::string_view needle) {
  for (; mask != 0; mask &= mask - 1) {
    const std::size_t at = base + static_cast<std::size_t>(std::countr_zero(mask));
    if (std::memcmp(s + at + 1, needle.data() + 1, needle.size() - 2) == 0) return at;
  }
  return std::string_view::npos;
}

// A step of 64 positions from i where either needle has candidates: true with the answer
// when one of them stands there whole. The other's first occurrence then lies at or after
// i, as every earlier candidate failed, and the one-needle search finds it from there.
inline bool settle_step(std::string_view text, std::string_view a, std::string_view b,
                        std::uint64_t a_mask, std::uint64_t b_mask, std::size_t i,
                        FirstOfEach& found) {
  const std::size_t a_at = first_verified(a_mask, text.data(), i, a);
  const std::size_t b_at = first_verified(b_mask, text.data(), i, b);
  if (a_at == text.npos && b_at == text.npos) return false;
  found = {a_at != text.npos ? a_at : find_bytes(text, a, i),
           b_at != text.npos ? b_at : find_bytes(text, b, i)};
  return true;
}

}  // namespace mapsweep::byte_search
