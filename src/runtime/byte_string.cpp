#include "runtime/byte_string.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "runtime/byte_search.h"

namespace mapsweep {
namespace {

// Leftmost occurrence of needle in region [from, end) of s, as std::string::find gives it
// (an occurrence lies wholly inside the region). Returns the 0-based offset, or npos.
std::size_t leftmost(std::string_view s, std::size_t from, std::string_view needle) {
  if (needle.empty() || from >= s.size()) return ByteString::npos;
  return find_bytes(s, needle, from);
}

struct CaseTables {
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
  CaseTables() {
    for (int b = 0; b < 256; ++b) upper[b] = lower[b] = static_cast<unsigned char>(b);
    for (int b = 'a'; b <= 'z'; ++b) {
      upper[b] = static_cast<unsigned char>(b - 32);
      lower[b - 32] = static_cast<unsigned char>(b);
    }
    // The code-page-437 letters a German-speaking user's file names carry: Ä Ö Ü É Ñ Å Ç.
    constexpr unsigned char kPairs[][2] = {{0x8E, 0x84}, {0x99, 0x94}, {0x9A, 0x81}, {0x90, 0x82},
                                           {0xA5, 0xA4}, {0x8F, 0x86}, {0x80, 0x87}};
    for (const auto& pair : kPairs) {
      upper[pair[1]] = pair[0];
      lower[pair[0]] = pair[1];
    }
  }
};

const CaseTables& case_tables() {
  static const CaseTables tables;
  return tables;
}

ByteString convert(ErrorState& err, const ByteString& s,
                   const std::array<unsigned char, 256>& map) {
  return with_storage(
      err,
      [&] {
        ByteString out(s);
        for (char& c : out) c = static_cast<char>(map[static_cast<unsigned char>(c)]);
        return out;
      },
      [&] { return s; });
}

}  // namespace

ByteString literal(ErrorState& err, const char* bytes, std::size_t count) {
  return with_storage(
      err, [&] { return ByteString(bytes, count); }, [] { return ByteString(); });
}

ByteString char_string(ErrorState& err, int code) {
  return with_storage(
      err, [&] { return ByteString(1, static_cast<char>(code & 0xFF)); },
      [] { return ByteString(); });
}

ByteString concat(ErrorState& err, const ByteString& a, const ByteString& b) {
  return concat(err, {a, b});
}

ByteString concat(ErrorState& err, std::initializer_list<std::string_view> pieces) {
  std::size_t total = 0;
  for (const std::string_view piece : pieces) total += piece.size();
  // A length must fit the unsigned 32-bit count.
  if (total > std::numeric_limits<std::uint32_t>::max()) {
    err.raise_error(rt_error::kOutOfStorage);
    return ByteString();
  }
  return with_storage(
      err,
      [&] {
        ByteString out;
        out.reserve(total);
        for (const std::string_view piece : pieces) out.append(piece);
        return out;
      },
      [] { return ByteString(); });
}

std::uint32_t length_of(std::string_view s) {
  return static_cast<std::uint32_t>(s.size());
}

ByteString left_part(ErrorState& err, const ByteString& s, std::int32_t n) {
  const std::uint32_t count = static_cast<std::uint32_t>(n);
  return with_storage(
      err, [&] { return count >= s.size() ? s : s.substr(0, count); }, [&] { return s; });
}

ByteString right_part(ErrorState& err, const ByteString& s, std::int32_t n) {
  const std::uint32_t count = static_cast<std::uint32_t>(n);
  return with_storage(
      err, [&] { return count >= s.size() ? s : s.substr(s.size() - count); }, [&] { return s; });
}

ByteString substring(ErrorState& err, std::string_view s, std::int32_t start, std::int32_t count) {
  if (start < 1 || static_cast<std::size_t>(start) > s.size()) return ByteString();
  const std::size_t rest = s.size() - static_cast<std::size_t>(start) + 1;
  const std::size_t take = std::min<std::size_t>(static_cast<std::uint32_t>(count), rest);
  return with_storage(
      err, [&] { return ByteString(s.substr(static_cast<std::size_t>(start) - 1, take)); },
      [&] { return ByteString(s); });
}

std::int32_t find_from(std::int32_t start, std::string_view haystack, std::string_view needle) {
  if (haystack.empty()) return 0;
  if (start < 1 || static_cast<std::size_t>(start) > haystack.size()) return 0;
  if (needle.empty()) return start;
  const std::size_t at = leftmost(haystack, static_cast<std::size_t>(start) - 1, needle);
  return at == ByteString::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

FirstPositions find_first_of_each(std::string_view haystack, std::string_view a,
                                  std::string_view b) {
  if (haystack.empty()) return {0, 0};
  const FirstOfEach found = find_each(haystack, a, b);
  const auto position = [](std::size_t at) {
    return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
  };
  return {position(found.a), position(found.b)};
}

std::uint32_t count_occurrences(const ByteString& haystack, const ByteString& needle) {
  std::uint32_t count = 0;
  for (std::size_t at = leftmost(haystack, 0, needle); at != ByteString::npos;
       at = leftmost(haystack, at + needle.size(), needle)) {
    ++count;
  }
  return count;
}

ByteString text_before(ErrorState& err, const ByteString& s, const ByteString& delimiter) {
  const std::size_t at = leftmost(s, 0, delimiter);
  return with_storage(
      err, [&] { return at == ByteString::npos ? s : s.substr(0, at); }, [&] { return s; });
}

ByteString to_upper(ErrorState& err, const ByteString& s) {
  return convert(err, s, case_tables().upper);
}

ByteString to_lower(ErrorState& err, const ByteString& s) {
  return convert(err, s, case_tables().lower);
}

int compare(const ByteString& a, const ByteString& b) {
  // std::string compares through char_traits<char>, which compares as unsigned char.
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void assign(ErrorState& err, ByteString& variable, const ByteString& value) {
  if (&variable == &value) return;
  try {
    variable = value;
  } catch (const std::bad_alloc&) {
    err.raise_error(rt_error::kOutOfStorage);
    ByteString().swap(variable);
  }
}

void assign(ErrorState&, ByteString& variable, ByteString&& value) {
  if (&variable != &value) variable = std::move(value);
}

}  // namespace mapsweep
