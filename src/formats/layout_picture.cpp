#include "formats/layout_picture.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

namespace mapsweep::formats {
namespace {

constexpr int kLastPixel = static_cast<int>(kLayoutPictureSide) - 1;

// The extent of the vertices the lines end at; others may lie anywhere.
struct Bounds {
  double min_x, max_x, min_y, max_y, min_z, max_z;
};

Bounds bounds_of_lines(const MapLines& map) {
  const Vertex& first = map.vertices[map.lines.front().from];
  Bounds bounds{first.x, first.x, first.y, first.y, first.z, first.z};
  const auto take_in = [&](const Vertex& v) {
    bounds.min_x = std::min<double>(bounds.min_x, v.x);
    bounds.max_x = std::max<double>(bounds.max_x, v.x);
    bounds.min_y = std::min<double>(bounds.min_y, v.y);
    bounds.max_y = std::max<double>(bounds.max_y, v.y);
    bounds.min_z = std::min<double>(bounds.min_z, v.z);
    bounds.max_z = std::max<double>(bounds.max_z, v.z);
  };
  for (const Line& line : map.lines) {
    take_in(map.vertices[line.from]);
    take_in(map.vertices[line.to]);
  }
  return bounds;
}

// A vertex's place on the picture and its height level (1 to kHeightLevels).
struct Point {
  int x;
  int y;
  int level;
};

// Rounds a non-negative value to the nearest whole number, halves up. Plain conversion
// rather than a library call: only IEEE arithmetic, the same on every x86-64 build.
int rounded(double value, int highest) {
  return std::min(static_cast<int>(value + 0.5), highest);
}

// Maps coordinates to pixels: one scale for both axes, so that the map keeps its
// proportions, the longer side spanning the picture and the shorter centred on it.
class Fit {
 public:
  explicit Fit(const Bounds& bounds) : bounds_(bounds) {
    const double width = bounds.max_x - bounds.min_x;
    const double depth = bounds.max_y - bounds.min_y;
    const double extent = std::max(width, depth);
    scale_ = extent > 0 ? kLastPixel / extent : 0.0;
    pad_x_ = (kLastPixel - rounded(width * scale_, kLastPixel)) / 2;
    pad_y_ = (kLastPixel - rounded(depth * scale_, kLastPixel)) / 2;
    const double height = bounds.max_z - bounds.min_z;
    level_scale_ = height > 0 ? (kHeightLevels - 1) / height : 0.0;
  }

  Point place(const Vertex& v) const {
    const int x = pad_x_ + rounded((v.x - bounds_.min_x) * scale_, kLastPixel);
    const int y = pad_y_ + rounded((v.y - bounds_.min_y) * scale_, kLastPixel);
    // A flat map is drawn at the brightest level, a sloped one from level 1 up.
    const int level = level_scale_ > 0
                          ? 1 + rounded((v.z - bounds_.min_z) * level_scale_, kHeightLevels - 1)
                          : kHeightLevels;
    // Rows run from the top of the picture, y from its bottom.
    return {std::min(x, kLastPixel), kLastPixel - std::min(y, kLastPixel), level};
  }

 private:
  Bounds bounds_;
  double scale_ = 0;
  int pad_x_ = 0;
  int pad_y_ = 0;
  double level_scale_ = 0;
};

// The highest level drawn through each pixel; 0 where none was.
class HeightCanvas {
 public:
  HeightCanvas() : levels_(kLayoutPictureSide * kLayoutPictureSide, 0) {}

  // Bresenham's line, each pixel at the level interpolated between the ends. The ends are
  // put in one order first, so that a line drawn either way lights the same pixels.
  void draw(Point a, Point b) {
    if (std::tie(b.x, b.y, b.level) < std::tie(a.x, a.y, a.level)) std::swap(a, b);
    const int dx = std::abs(b.x - a.x);
    const int dy = -std::abs(b.y - a.y);
    const int step_x = a.x < b.x ? 1 : -1;
    const int step_y = a.y < b.y ? 1 : -1;
    const int steps = std::max(dx, -dy);
    int error = dx + dy;
    int x = a.x;
    int y = a.y;
    for (int step = 0;; ++step) {
      const int level = steps == 0 ? b.level : a.level + (b.level - a.level) * step / steps;
      raise(x, y, level);
      if (x == b.x && y == b.y) break;
      const int doubled = 2 * error;
      if (doubled >= dy) {
        error += dy;
        x += step_x;
      }
      if (doubled <= dx) {
        error += dx;
        y += step_y;
      }
    }
  }

  std::vector<std::uint8_t> take() { return std::move(levels_); }

 private:
  void raise(int x, int y, int level) {
    std::uint8_t& kept =
        levels_[static_cast<std::size_t>(y) * kLayoutPictureSide + static_cast<std::size_t>(x)];
    kept = std::max(kept, static_cast<std::uint8_t>(level));
  }

  std::vector<std::uint8_t> levels_;
};

// The lines read from a map are; lines put together otherwise are checked all the same,
// since a coordinate out of range would make the pixel arithmetic undefined.
bool all_drawable(const MapLines& map) {
  return std::all_of(map.lines.begin(), map.lines.end(), [&](const Line& line) {
    return line.from < map.vertices.size() && line.to < map.vertices.size() &&
           within_limits(map.vertices[line.from]) && within_limits(map.vertices[line.to]);
  });
}

}  // namespace

std::optional<LayoutPicture> draw_layout(const MapLines& map) {
  if (map.lines.empty() || !all_drawable(map)) return std::nullopt;
  const Fit fit(bounds_of_lines(map));
  HeightCanvas canvas;
  for (const Line& line : map.lines) {
    canvas.draw(fit.place(map.vertices[line.from]), fit.place(map.vertices[line.to]));
  }
  return LayoutPicture{kLayoutPictureSide, canvas.take()};
}

std::uint8_t level_grey(int level) {
  if (level <= 0) return kLayoutBackground;
  constexpr int kLowest = 72;  // the lowest line still stands out from the background
  return static_cast<std::uint8_t>(
      kLowest + (255 - kLowest) * (std::min(level, kHeightLevels) - 1) / (kHeightLevels - 1));
}

void fill_grey(const LayoutPicture& picture, std::vector<std::uint8_t>& grey) {
  static const std::array<std::uint8_t, kHeightLevels + 1> greys = [] {
    std::array<std::uint8_t, kHeightLevels + 1> table{};
    for (int level = 0; level <= kHeightLevels; ++level) {
      table[static_cast<std::size_t>(level)] = level_grey(level);
    }
    return table;
  }();
  // Nearly every pixel is background, which is grey 0 as it is level 0: eight pixels at a
  // time are copied while they are all background, and only the others looked up. Looking
  // up every pixel cost a quarter of encoding the picture.
  static_assert(kLayoutBackground == 0);
  const std::vector<std::uint8_t>& levels = picture.levels;
  grey.resize(levels.size());
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  std::size_t at = 0;
  for (; at + kWord <= levels.size(); at += kWord) {
    std::uint64_t word;
    std::memcpy(&word, levels.data() + at, kWord);
    if (word == 0) {
      std::memcpy(grey.data() + at, &word, kWord);
      continue;
    }
    for (std::size_t i = at; i < at + kWord; ++i) grey[i] = greys[levels[i]];
  }
  for (; at < levels.size(); ++at) grey[at] = greys[levels[at]];
}

std::vector<std::uint8_t> layout_grey(const LayoutPicture& picture) {
  std::vector<std::uint8_t> grey;
  fill_grey(picture, grey);
  return grey;
}

std::optional<LayoutPicture> draw_map_layout(ByteSource& map) {
  const std::optional<MapLines> lines = read_map_lines(map);
  if (!lines) return std::nullopt;
  return draw_layout(*lines);
}

}  // namespace mapsweep::formats
