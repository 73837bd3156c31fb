// Byte strings: counted runs of any bytes, NUL included, held in std::string. Positions are
// 1-based and 0 means "no occurrence"; searches and comparisons are byte-exact. Only the
// two case conversions treat bytes as letters (ASCII and seven code-page-437 pairs).
// Operations that need storage take the error state: running out raises
// rt_error::kOutOfStorage and yields the documented fallback instead of throwing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "runtime/error_state.h"

namespace mapsweep {

using ByteString = std::string;

ByteString literal(ErrorState& err, const char* bytes, std::size_t count);
// The one-byte string of code modulo 256.
ByteString char_string(ErrorState& err, int code);
ByteString concat(ErrorState& err, const ByteString& a, const ByteString& b);
// The pieces one after another, built in one allocation.
ByteString concat(ErrorState& err, std::initializer_list<std::string_view> pieces);
std::uint32_t length_of(std::string_view s);
// n is taken as unsigned: a negative n, or one at least the length, gives s unchanged.
ByteString left_part(ErrorState& err, const ByteString& s, std::int32_t n);
ByteString right_part(ErrorState& err, const ByteString& s, std::int32_t n);
// Up to count bytes from position start; count is taken as unsigned (negative = all).
ByteString substring(ErrorState& err, std::string_view s, std::int32_t start, std::int32_t count);
// Position of the first needle at or after start; an empty needle is found at start when
// start lies inside a non-empty haystack.
std::int32_t find_from(std::int32_t start, std::string_view haystack, std::string_view needle);
// The positions find_from(1, haystack, a) and find_from(1, haystack, b) give, found in one
// pass over the haystack.
struct FirstPositions {
  std::int32_t a;
  std::int32_t b;
};
FirstPositions find_first_of_each(std::string_view haystack, std::string_view a,
                                  std::string_view b);
// Non-overlapping occurrences; an empty needle counts 0.
std::uint32_t count_occurrences(const ByteString& haystack, const ByteString& needle);
// The bytes before the first delimiter; s unchanged when there is none or it is empty.
ByteString text_before(ErrorState& err, const ByteString& s, const ByteString& delimiter);
ByteString to_upper(ErrorState& err, const ByteString& s);
ByteString to_lower(ErrorState& err, const ByteString& s);
// Unsigned byte comparison: negative, 0 or positive.
int compare(const ByteString& a, const ByteString& b);
// Copies value into variable; on exhaustion the variable is left empty.
void assign(ErrorState& err, ByteString& variable, const ByteString& value);
// Moves a temporary into variable; never needs storage.
void assign(ErrorState& err, ByteString& variable, ByteString&& value);

}  // namespace mapsweep
