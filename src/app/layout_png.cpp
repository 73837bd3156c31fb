#include "app/layout_png.h"

#include <zlib.h>

#include <cstdint>
#include <string_view>

#include "app/run_length_deflate.h"

namespace mapsweep {
namespace {

// Rows as they are (filter 0): the picture is flat colour and thin lines, which the filters
// that predict from neighbours do not make smaller.
constexpr char kNoFilter = 0;
// Above this side a row's length or the image data's would not fit a chunk's 32-bit length.
constexpr std::size_t kLargestSide = 16384;

void append_u32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

// Appends a chunk whose data the caller puts at the end of `out` through `fill`.
template <typename Fill>
void append_chunk(std::string& out, std::string_view type, Fill&& fill) {
  const std::size_t length_at = out.size();
  append_u32(out, 0);
  out += type;
  fill(out);
  const std::size_t data_length = out.size() - length_at - 8;
  for (int i = 0; i < 4; ++i) {
    out[length_at + static_cast<std::size_t>(i)] = static_cast<char>(data_length >> (24 - 8 * i));
  }
  const auto* typed = reinterpret_cast<const Bytef*>(out.data() + length_at + 4);
  append_u32(out, static_cast<std::uint32_t>(crc32(0, typed, static_cast<uInt>(data_length + 4))));
}

// The colours of the levels, 0 to kHeightLevels, as a PLTE chunk's data; made once.
const std::string& palette() {
  static const std::string colours = [] {
    std::string out;
    for (int level = 0; level <= formats::kHeightLevels; ++level) {
      const formats::LayoutColour colour = formats::level_colour(level);
      out.append(reinterpret_cast<const char*>(colour.data()), colour.size());
    }
    return out;
  }();
  return colours;
}

}  // namespace

std::string layout_png(const formats::LayoutPicture& picture) {
  const std::size_t side = picture.side;
  if (side == 0 || side > kLargestSide || picture.levels.size() != side * side) return {};
  std::string rows;
  rows.reserve(side * (side + 1));
  for (std::size_t row = 0; row < side; ++row) {
    rows.push_back(kNoFilter);
    rows.append(reinterpret_cast<const char*>(picture.levels.data() + row * side), side);
  }
  std::string png = "\x89PNG\r\n\x1A\n";
  append_chunk(png, "IHDR", [&](std::string& out) {
    append_u32(out, static_cast<std::uint32_t>(side));
    append_u32(out, static_cast<std::uint32_t>(side));
    // 8 bits a pixel, indexed colour, deflate, adaptive filtering, no interlace.
    out.append("\x08\x03\x00\x00\x00", 5);
  });
  append_chunk(png, "PLTE", [](std::string& out) { out += palette(); });
  append_chunk(png, "IDAT", [&](std::string& out) { append_run_length_zlib(rows, out); });
  append_chunk(png, "IEND", [](std::string&) {});
  return png;
}

}  // namespace mapsweep
