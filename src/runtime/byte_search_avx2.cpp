// Byte search on x86-64 with the widest vectors the processor has: AVX-512 (BW), AVX2 or
// SSE2 (see byte_search_sse2.h). The same filter on a needle's first and last byte, on 128
// or 64 positions a step, makes scanning a chunk cost a fraction of reading it.
#include <immintrin.h>

#include <algorithm>

#include "runtime/byte_search.h"
#include "runtime/byte_search_sse2.h"

namespace mapsweep {
namespace {

// Asks for the bytes a little ahead of the scan: text lent from a view of a file comes
// from memory page by page, and the processor's own prefetching stops at each page's end.
// A prefetch never faults, also past the text's end.
inline void prefetch_ahead(const char* at) {
  _mm_prefetch(at + 2048, _MM_HINT_T0);
}

// Asked once: the answers cannot change while the process runs.
const bool kHasAvx2 = __builtin_cpu_supports("avx2");
const bool kHasAvx512 = __builtin_cpu_supports("avx512bw");

__attribute__((target("avx2"))) std::uint32_t candidates_avx2(const char* at, std::size_t k,
                                                              __m256i first, __m256i last) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + k - 1));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(
      _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
}

// Searches the steps of 64 positions that fit, then leaves the rest to the SSE2 search.
__attribute__((target("avx2"))) std::size_t find_avx2(std::string_view text,
                                                      std::string_view needle, std::size_t from) {
  const std::size_t n = text.size();
  const std::size_t k = needle.size();
  const char* s = text.data();
  const __m256i first = _mm256_set1_epi8(needle[0]);
  const __m256i last = _mm256_set1_epi8(needle[k - 1]);
  const char* middle = needle.data() + 1;
  std::size_t i = from;
  for (; i + 64 + k - 1 <= n; i += 64) {
    std::uint64_t mask = candidates_avx2(s + i, k, first, last) |
                         (std::uint64_t{candidates_avx2(s + i + 32, k, first, last)} << 32);
    for (; mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      if (std::memcmp(s + at + 1, middle, k - 2) == 0) return at;
    }
  }
  return byte_search::find_sse2(text, needle, i);
}

__attribute__((target("avx512bw"))) std::uint64_t candidates_avx512(const char* at, std::size_t k,
                                                                    __m512i first, __m512i last) {
  const __mmask64 firsts = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(at), first);
  return _mm512_mask_cmpeq_epi8_mask(firsts, _mm512_loadu_si512(at + k - 1), last);
}

// Searches the steps of 128 positions that fit, then leaves the rest to the AVX2 search.
__attribute__((target("avx512bw"))) std::size_t find_avx512(std::string_view text,
                                                            std::string_view needle,
                                                            std::size_t from) {
  const std::size_t n = text.size();
  const std::size_t k = needle.size();
  const char* s = text.data();
  const __m512i first = _mm512_set1_epi8(needle[0]);
  const __m512i last = _mm512_set1_epi8(needle[k - 1]);
  const char* middle = needle.data() + 1;
  std::size_t i = from;
  for (; i + 128 + k - 1 <= n; i += 128) {
    prefetch_ahead(s + i);
    prefetch_ahead(s + i + 64);
    const std::uint64_t low = candidates_avx512(s + i, k, first, last);
    const std::uint64_t high = candidates_avx512(s + i + 64, k, first, last);
    if ((low | high) == 0) continue;
    for (std::uint64_t mask = low; mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      if (std::memcmp(s + at + 1, middle, k - 2) == 0) return at;
    }
    for (std::uint64_t mask = high; mask != 0; mask &= mask - 1) {
      const std::size_t at = i + 64 + static_cast<std::size_t>(std::countr_zero(mask));
      if (std::memcmp(s + at + 1, middle, k - 2) == 0) return at;
    }
  }
  return find_avx2(text, needle, i);
}

// Both needles' candidates in each step of 64 positions (see settle_step).
__attribute__((target("avx2"))) FirstOfEach find_each_avx2(std::string_view text,
                                                           std::string_view a, std::string_view b) {
  const std::size_t n = text.size();
  const std::size_t k = std::max(a.size(), b.size());
  const char* s = text.data();
  const __m256i a_first = _mm256_set1_epi8(a.front());
  const __m256i a_last = _mm256_set1_epi8(a.back());
  const __m256i b_first = _mm256_set1_epi8(b.front());
  const __m256i b_last = _mm256_set1_epi8(b.back());
  std::size_t i = 0;
  for (; i + 64 + k - 1 <= n; i += 64) {
    prefetch_ahead(s + i);
    const std::uint64_t a_mask =
        candidates_avx2(s + i, a.size(), a_first, a_last) |
        (std::uint64_t{candidates_avx2(s + i + 32, a.size(), a_first, a_last)} << 32);
    const std::uint64_t b_mask =
        candidates_avx2(s + i, b.size(), b_first, b_last) |
        (std::uint64_t{candidates_avx2(s + i + 32, b.size(), b_first, b_last)} << 32);
    if ((a_mask | b_mask) == 0) continue;
    FirstOfEach found{};
    if (byte_search::settle_step(text, a, b, a_mask, b_mask, i, found)) return found;
  }
  return {find_bytes(text, a, i), find_bytes(text, b, i)};
}

__attribute__((target("avx512bw"))) FirstOfEach find_each_avx512(std::string_view text,
                                                                 std::string_view a,
                                                                 std::string_view b) {
  const std::size_t n = text.size();
  const std::size_t k = std::max(a.size(), b.size());
  const char* s = text.data();
  const __m512i a_first = _mm512_set1_epi8(a.front());
  const __m512i a_last = _mm512_set1_epi8(a.back());
  const __m512i b_first = _mm512_set1_epi8(b.front());
  const __m512i b_last = _mm512_set1_epi8(b.back());
  std::size_t i = 0;
  for (; i + 64 + k - 1 <= n; i += 64) {
    prefetch_ahead(s + i);
    const std::uint64_t a_mask = candidates_avx512(s + i, a.size(), a_first, a_last);
    const std::uint64_t b_mask = candidates_avx512(s + i, b.size(), b_first, b_last);
    if ((a_mask | b_mask) == 0) continue;
    FirstOfEach found{};
    if (byte_search::settle_step(text, a, b, a_mask, b_mask, i, found)) return found;
  }
  return {find_bytes(text, a, i), find_bytes(text, b, i)};
}

}  // namespace

std::size_t find_bytes(std::string_view text, std::string_view needle, std::size_t from) {
  std::size_t found = 0;
  if (byte_search::trivial_case(text, needle, from, found)) return found;
  if (kHasAvx512) return find_avx512(text, needle, from);
  return kHasAvx2 ? find_avx2(text, needle, from) : byte_search::find_sse2(text, needle, from);
}

FirstOfEach find_each(std::string_view text, std::string_view a, std::string_view b) {
  if (byte_search::searchable_together(text, a, b)) {
    if (kHasAvx512) return find_each_avx512(text, a, b);
    if (kHasAvx2) return find_each_avx2(text, a, b);
  }
  return {find_bytes(text, a), find_bytes(text, b)};
}

}  // namespace mapsweep
