// A top-down picture of a map's layout: its lines seen from above (x to the right, y up),
// fitted to a square picture with the map's proportions kept, each pixel coloured by the
// highest line drawn through it, brighter the higher. The pixels are computed in integers
// after one fit in double precision, so that every build of the program, Linux or Windows,
// draws the very same picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "formats/byte_source.h"
#include "formats/map_geometry.h"

namespace mapsweep::formats {

inline constexpr std::size_t kLayoutPictureSide = 256;
// The colour of the pixels no line went through: dark, so that every level stands out.
inline constexpr std::array<std::uint8_t, 3> kLayoutBackground = {14, 16, 24};
// Heights are shaded in this many levels; level 0 marks a pixel no line went through.
inline constexpr int kHeightLevels = 255;

struct LayoutPicture {
  std::size_t side = kLayoutPictureSide;
  std::vector<std::uint8_t> rgb;  // side * side pixels, rows from the top, 3 bytes each
};

// The picture of these lines, or no value when there is no line to draw or a line ends at a
// vertex that is missing or out of limits.
std::optional<LayoutPicture> draw_layout(const MapLines& map);

// The picture of the map in `map`, or no value when it has nothing to draw or its
// geometry cannot be read (see read_map_lines).
std::optional<LayoutPicture> draw_map_layout(ByteSource& map);

}  // namespace mapsweep::formats
