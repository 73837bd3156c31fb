// The catalogue's pictures of map layouts as PNG files.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/layout_picture.h"

namespace mapsweep {

// The picture as the bytes of a PNG file: 8-bit grey, the very pixels layout_grey gives.
// Empty when the picture is not whole (fewer or more levels than its side gives).
std::string layout_png(const formats::LayoutPicture& picture);

// The Adler-32 checksum of the bytes, as zlib's adler32 gives it, in a time that grows with
// the bytes that are not zero rather than with all of them: a picture's rows are mostly
// background, and the checksum of every byte cost a sixth of encoding one.
std::uint32_t sparse_adler32(std::span<const unsigned char> bytes);

}  // namespace mapsweep
