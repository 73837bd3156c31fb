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

// The picture is kept as height levels, one byte a pixel, and coloured only where it is
// shown: a third of the memory, and a PNG of indexed colour encodes a third of the bytes.
struct LayoutPicture {
  std::size_t side = kLayoutPictureSide;
  std::vector<std::uint8_t> levels;  // side * side pixels, rows from the top; 0 for none
};

using LayoutColour = std::array<std::uint8_t, 3>;

// The colour a pixel of this level is shown in: kLayoutBackground for level 0, then from
// blue low down through teal and sand to near white at the top; never darker for a higher
// level.
LayoutColour level_colour(int level);

// The picture's pixels as shown: 8-bit RGB, 3 bytes a pixel, rows from the top.
std::vector<std::uint8_t> layout_rgb(const LayoutPicture& picture);

// The picture of these lines, or no value when there is no line to draw or a line ends at a
// vertex that is missing or out of limits.
std::optional<LayoutPicture> draw_layout(const MapLines& map);

// The picture of the map in `map`, or no value when it has nothing to draw or its
// geometry cannot be read (see read_map_lines).
std::optional<LayoutPicture> draw_map_layout(ByteSource& map);

}  // namespace mapsweep::formats
