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
// The grey of the pixels no line went through: black, so that every level stands out.
inline constexpr std::uint8_t kLayoutBackground = 0;
// Heights are shaded in this many levels; level 0 marks a pixel no line went through.
inline constexpr int kHeightLevels = 255;

// The picture is kept as height levels, one byte a pixel, and turned into greys only where
// it is written.
struct LayoutPicture {
  std::size_t side = kLayoutPictureSide;
  std::vector<std::uint8_t> levels;  // side * side pixels, rows from the top; 0 for none
};

// The grey a pixel of this level is shown in: kLayoutBackground for level 0, then from dim
// grey low down to white at the top; never darker for a higher level. Grey, not colour: a
// picture of one byte a pixel costs a third of the copying and compressing of one of three,
// which for tens of thousands of pictures is most of what drawing them costs.
std::uint8_t level_grey(int level);

// The picture's pixels as shown: 8-bit grey, a byte a pixel, rows from the top.
std::vector<std::uint8_t> layout_grey(const LayoutPicture& picture);
// The same into `grey`, whatever it held, reusing its storage: a picture encoded after
// another then costs no allocation of its own.
void fill_grey(const LayoutPicture& picture, std::vector<std::uint8_t>& grey);

// The picture of these lines, or no value when there is no line to draw or a line ends at a
// vertex that is missing or out of limits.
std::optional<LayoutPicture> draw_layout(const MapLines& map);

// The picture of the map in `map`, or no value when it has nothing to draw or its
// geometry cannot be read (see read_map_lines).
std::optional<LayoutPicture> draw_map_layout(ByteSource& map);

}  // namespace mapsweep::formats
