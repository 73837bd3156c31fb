// maps.json: the catalogue's records as one JSON document, described by
// doc/maps.schema.json. The page embeds the same document.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/catalog_record.h"

namespace mapsweep {

inline constexpr int kCatalogFormat = 1;

// The document: {"format":1,"generator":...,"maps":[...]}, one record per line so that
// the file diffs well. With `for_html` every string is safe inside a <script> element.
std::string catalog_json(const CatalogMaps& maps, std::string_view generator,
                         bool for_html = false);

// Where a long text goes piece by piece; false when a piece could not be taken.
using TextSink = std::function<bool(std::string_view)>;

// The same document handed to `sink` a few records at a time, so that the records of tens
// of thousands of maps never stand in memory as one text; false once the sink fails.
bool write_catalog_json(const CatalogMaps& maps, std::string_view generator,
                        bool for_html, const TextSink& sink);

}  // namespace mapsweep
