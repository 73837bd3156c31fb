// The title shown for a map, made from its worldspawn message.
#pragma once

#include <string>
#include <string_view>

namespace mapsweep::formats {

// In this order: every byte from 0x80 up loses its high bit; each "\n" pair (two bytes,
// left to right, not overlapping) becomes a space; control bytes and 0x7F become spaces
// and '"' becomes '\''; runs of spaces shrink to one and the ends are trimmed. One pass.
std::string display_title(std::string_view message);

}  // namespace mapsweep::formats
