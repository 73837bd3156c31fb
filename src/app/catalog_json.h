// maps.json: the catalogue's records as one JSON document, described by
// doc/maps.schema.json. The page embeds the same document.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/catalog_record.h"

namespace mapsweep {

inline constexpr int kCatalogFormat = 1;

// The document: {"format":1,"generator":...,"maps":[...]}, one record per line so that
// the file diffs well. With `for_html` every string is safe inside a <script> element.
std::string catalog_json(const std::vector<CatalogMap>& maps, std::string_view generator,
                         bool for_html = false);

}  // namespace mapsweep
