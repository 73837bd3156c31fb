// The catalogue's pictures of map layouts as PNG files.
#pragma once

#include <string>

#include "formats/layout_picture.h"

namespace mapsweep {

// The picture as the bytes of a PNG file: 8-bit grey, the very pixels layout_grey gives.
// Empty when the picture is not whole (fewer or more levels than its side gives).
std::string layout_png(const formats::LayoutPicture& picture);

}  // namespace mapsweep
