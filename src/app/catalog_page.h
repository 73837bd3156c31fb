// index.html of the catalogue: one static page that opens from the file system with no
// server and nothing fetched from elsewhere. The table is written out in full, so the page
// reads without its script; the script adds filtering, the play-mode toggles and sorting
// on top, working from the same records embedded as JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/catalog_json.h"
#include "app/catalog_record.h"

namespace mapsweep {

// The page for `maps`, with `embedded_json` (catalog_json(maps, generator, true): the same
// maps in the same order) as the data its script reads. Every text of the records is
// escaped; the data cannot end its <script> element, whatever it holds.
std::string catalog_page(const CatalogMaps& maps, std::string_view embedded_json);

// The same page, its data catalog_json(maps, generator, true), handed to `sink` piece by
// piece; false as soon as the sink says a piece could not be taken.
bool write_catalog_page(const CatalogMaps& maps, std::string_view generator,
                        const TextSink& sink);

// "1 map", "2 maps", "40,000 maps": the count the page shows.
std::string map_count_text(std::size_t count);

// A size as the page shows it: "512 B", "4.5 KiB", "23 MiB".
std::string size_text(std::uint64_t bytes);

}  // namespace mapsweep
