// Text of arbitrary bytes for the catalogue's page: HTML text and attribute values, and
// relative URLs of files named by such bytes.
#pragma once

#include <string>
#include <string_view>

namespace mapsweep {

// `bytes` as HTML text, safe in element content and in quoted attribute values alike.
// Well-formed UTF-8 stays; any other byte is read as Latin-1, as maps.json reads it, so the
// page and the data show the same characters and the page is always valid UTF-8. The five
// markup characters become entities; control bytes become their visible Control Pictures
// (U+2400 + byte, DEL as U+2421) instead of characters HTML drops or rejects.
std::string html_text(std::string_view bytes);

// A relative path as a URL path: every byte other than an unreserved one ([A-Za-z0-9-._~])
// and '/' is percent-encoded, so that '#', '?', '%' or a space in a file name reach the file
// instead of ending or changing the URL. The result holds only ASCII and needs no further
// escaping in an attribute.
std::string url_path(std::string_view bytes);

}  // namespace mapsweep
