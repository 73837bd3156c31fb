// Raw deflate data inflated by zlib in one go, as the reference the fuzz targets hold the
// program's piecewise, bounded inflating to.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mapsweep::fuzz {

struct ReferenceInflate {
  std::string output;    // at most the limit given
  bool ended = false;    // the deflate data ended within the limit
  bool damaged = false;  // zlib refused the data before the limit
  bool full = false;     // the limit was reached first
};

ReferenceInflate reference_inflate(std::string_view compressed, std::size_t limit);

}  // namespace mapsweep::fuzz
