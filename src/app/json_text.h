// JSON string literals of arbitrary bytes, for the catalogue's maps.json and its page.
#pragma once

#include <string>
#include <string_view>

namespace mapsweep {

// `bytes` as a quoted JSON string. Well-formed UTF-8 sequences stay as they are; any other
// byte becomes \u00XX of its Latin-1 value, so that nothing is lost and the output is
// always valid UTF-8. Control characters, '"' and '\' are escaped. With `for_html`, '<',
// '>' and '&' are escaped as well, so that the text can sit inside a <script> element.
std::string json_string(std::string_view bytes, bool for_html = false);

// The length of the well-formed UTF-8 sequence at the start of `bytes` (1 to 4), or 0 when
// it does not start with one (overlong forms, surrogates and values past U+10FFFF count as
// malformed).
std::size_t utf8_sequence_length(std::string_view bytes);

}  // namespace mapsweep
