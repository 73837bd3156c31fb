// Fuzzes the reading of a map's geometry and the drawing of its layout picture on memory.
// Besides not crashing, hanging or growing without bound, the reader is held to reading
// only within the ranges layout_lumps names, a piece at a time, so that a map whose other
// bytes are changed draws the same; the lines it gives end at vertices within limits; and
// a picture comes whole, exactly when there is a line to draw.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/layout_picture.h"
#include "formats/map_geometry.h"
#include "fuzz_check.h"
#include "recording_source.h"

using namespace mapsweep::formats;
using mapsweep::fuzz::check;

namespace {

// The largest read the reader makes: its pieces are 64 KiB, its header less.
constexpr std::size_t kLargestRead = 64 * 1024;

bool within_one(const std::vector<ByteRange>& ranges, std::uint64_t offset, std::size_t size) {
  return std::any_of(ranges.begin(), ranges.end(), [&](const ByteRange& range) {
    return offset >= range.offset && offset - range.offset <= range.length &&
           size <= range.length - (offset - range.offset);
  });
}

void check_lines(const MapLines& map) {
  check(map.vertices.size() <= kMaxVertices && map.lines.size() <= kMaxLines);
  for (const Line& line : map.lines) {
    check(line.from != line.to);
    check(line.from < map.vertices.size() && line.to < map.vertices.size());
    check(within_limits(map.vertices[line.from]) && within_limits(map.vertices[line.to]));
  }
}

std::optional<LayoutPicture> picture_of(std::string_view file) {
  MemorySource source(file);
  return draw_map_layout(source);
}

bool same(const std::optional<LayoutPicture>& a, const std::optional<LayoutPicture>& b) {
  return a.has_value() == b.has_value() && (!a || a->levels == b->levels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view file = mapsweep::fuzz::bytes_of(data, size);
  const auto ranges = layout_lumps(file.substr(0, kGeometryHeaderBytes), size);
  mapsweep::fuzz::RecordingSource source(file);
  const std::optional<MapLines> lines = read_map_lines(source);
  check(ranges.has_value() || !lines.has_value());
  if (!ranges) return 0;

  source.for_each_served([&](std::uint64_t offset, std::size_t count) {
    check(count <= kLargestRead && within_one(*ranges, offset, count));
  });
  const std::optional<LayoutPicture> picture = lines ? draw_layout(*lines) : std::nullopt;
  if (lines) check_lines(*lines);
  check(picture.has_value() == (lines && !lines->lines.empty()));
  if (picture) {
    check(picture->side == kLayoutPictureSide);
    check(picture->levels.size() == kLayoutPictureSide * kLayoutPictureSide);
  }
  check(same(picture_of(file), picture));

  // Every byte outside the named ranges changed: the same picture, or the same none.
  std::string changed(size, '\x7F');
  for (const ByteRange& range : *ranges) {
    changed.replace(range.offset, range.length, file.substr(range.offset, range.length));
  }
  check(same(picture_of(changed), picture));
  return 0;
}
