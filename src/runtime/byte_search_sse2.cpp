// Byte search on x86-64 with SSE2, which every x86-64 processor has. Positions are filtered
// 32 at a time on the needle's first and last byte, and only where both stand at the
// needle's distance is the needle compared whole: on data where that pair is rare, each
// byte is loaded twice and compared twice, at a few bytes per processor cycle.
#include <emmintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/byte_search.h"

namespace mapsweep {
namespace {

constexpr std::size_t kStep = 32;

__m128i load(const char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Bit j set: position at + j holds the first byte and position at + j + k - 1 the last.
std::uint32_t candidates(const char* at, std::size_t k, __m128i first, __m128i last) {
  const __m128i low =
      _mm_and_si128(_mm_cmpeq_epi8(load(at), first), _mm_cmpeq_epi8(load(at + k - 1), last));
  const __m128i high = _mm_and_si128(_mm_cmpeq_epi8(load(at + 16), first),
                                     _mm_cmpeq_epi8(load(at + 16 + k - 1), last));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(low)) |
         (static_cast<std::uint32_t>(_mm_movemask_epi8(high)) << 16);
}

}  // namespace

std::size_t find_bytes(std::string_view text, std::string_view needle, std::size_t from) {
  const std::size_t n = text.size();
  const std::size_t k = needle.size();
  if (from > n || k > n - from) return std::string_view::npos;
  if (k == 0) return from;
  const char* s = text.data();
  if (k == 1) {
    const void* found = std::memchr(s + from, needle[0], n - from);
    return found == nullptr ? std::string_view::npos
                            : static_cast<std::size_t>(static_cast<const char*>(found) - s);
  }
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[k - 1]);
  const char* middle = needle.data() + 1;
  std::size_t i = from;
  // A step reads up to byte i + kStep + k - 2, which must lie inside the text.
  for (; i + kStep + k - 1 <= n; i += kStep) {
    for (std::uint32_t mask = candidates(s + i, k, first, last); mask != 0; mask &= mask - 1) {
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

}  // namespace mapsweep
