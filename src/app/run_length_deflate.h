// A zlib stream made for pictures of thin lines on a flat background: every byte is either
// written as it is or, with the bytes after it that repeat it, as one copy of the byte
// before, in deflate's fixed codes. Most of such a picture is long runs of one byte, which
// this finds a word at a time: many times faster than zlib's general search for repeats,
// which weighs every byte, for files about as small.
#pragma once

#include <string>
#include <string_view>

namespace mapsweep {

// Appends the zlib stream (header, one deflate block, checksum) of `bytes` to `out`. Any
// inflater gives `bytes` back.
void append_run_length_zlib(std::string_view bytes, std::string& out);

}  // namespace mapsweep
