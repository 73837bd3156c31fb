// The picture of a map that lies in an archive or a file: its geometry lumps read through
// the file's metered reader, so that drawing costs the file's budget like any other read.
#pragma once

#include <optional>

#include "formats/layout_picture.h"
#include "formats/map_data.h"
#include "formats/metered_reader.h"

namespace mapsweep::formats {

// The lumps of a deflated map are kept in memory while it is inflated again: a map whose
// geometry needs more than this gets no picture.
inline constexpr std::uint64_t kLayoutCaptureLimit = 24u << 20;

// The map's picture, or no value when it has none to give (see draw_map_layout), its data
// is damaged, or the reader stops (a failed read or the budget spent: the reader says so).
std::optional<LayoutPicture> read_map_layout(MeteredReader& reader, const MapData& data);

}  // namespace mapsweep::formats
