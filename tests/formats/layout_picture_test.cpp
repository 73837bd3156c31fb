// The picture of a map's layout: fitted to the square with the map's proportions kept and
// north up, shaded so that the highest line through a pixel wins whatever the order of the
// lines, and pixel for pixel the same on every build.
#include "formats/layout_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tools/map_archive_writer.h"

namespace mapsweep::formats {
namespace {

using tools::GeometryEdge;
using tools::GeometryVertex;
using tools::MapLayout;

constexpr int kSide = static_cast<int>(kLayoutPictureSide);

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
  int brightness() const { return r + g + b; }
};

Rgb pixel(const LayoutPicture& picture, int x, int y) {
  const int grey = level_grey(picture.levels[static_cast<std::size_t>(y) * picture.side + x]);
  return {grey, grey, grey};
}

bool lit(const LayoutPicture& picture, int x, int y) {
  return pixel(picture, x, y) != Rgb{kLayoutBackground, kLayoutBackground, kLayoutBackground};
}

std::optional<LayoutPicture> picture_of(const std::vector<Vertex>& vertices,
                                        const std::vector<Line>& lines) {
  return draw_layout(MapLines{vertices, lines});
}

const std::vector<Line> kOutline = {{0, 1}, {1, 2}, {2, 3}, {3, 0}};

std::vector<Vertex> rectangle(float width, float depth, float z = 0) {
  return {{-7, 3, z}, {width - 7, 3, z}, {width - 7, depth + 3, z}, {-7, depth + 3, z}};
}

TEST(LayoutPicture, ASquareLandsOnTheBorderInEveryFamily) {
  const std::vector<GeometryVertex> square = {
      {-50, -50, 0}, {50, -50, 0}, {50, 50, 0}, {-50, 50, 0}};
  for (const MapLayout layout : tools::kAllMapLayouts) {
    const std::string map = tools::geometry_map(
        layout, tools::line_geometry(layout, square, {{0, 1}, {1, 2}, {2, 3}, {3, 0}}));
    MemorySource source(map);
    const auto picture = draw_map_layout(source);
    ASSERT_TRUE(picture) << static_cast<int>(layout);
    ASSERT_EQ(picture->side, kLayoutPictureSide);
    ASSERT_EQ(picture->levels.size(), kLayoutPictureSide * kLayoutPictureSide);
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const bool border = x == 0 || y == 0 || x == kSide - 1 || y == kSide - 1;
        ASSERT_EQ(lit(*picture, x, y), border)
            << static_cast<int>(layout) << " at " << x << "," << y;
      }
    }
  }
}

// The lit pixels' columns and rows, first and last.
struct LitBox {
  int left = kSide, right = -1, top = kSide, bottom = -1;
};

LitBox lit_box(const LayoutPicture& picture) {
  LitBox box;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      if (!lit(picture, x, y)) continue;
      box.left = std::min(box.left, x), box.right = std::max(box.right, x);
      box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

TEST(LayoutPicture, ProportionsAreKeptAndTheShorterSideCentred) {
  for (const auto& [width, depth] : {std::pair{200.f, 100.f},
                                     {100.f, 200.f},
                                     {640.f, 480.f},
                                     {300.f, 7.f},
                                     {1.f, 1000.f},
                                     {0.5f, 0.25f}}) {
    const auto picture = picture_of(rectangle(width, depth), kOutline);
    ASSERT_TRUE(picture);
    const LitBox box = lit_box(*picture);
    const double ratio = std::min(width, depth) / std::max(width, depth);
    const int long_span = width >= depth ? box.right - box.left : box.bottom - box.top;
    const int short_span = width >= depth ? box.bottom - box.top : box.right - box.left;
    const int short_margins = width >= depth ? box.top + box.bottom : box.left + box.right;
    EXPECT_EQ(long_span, kSide - 1) << width << "x" << depth;
    EXPECT_NEAR(short_span, ratio * (kSide - 1), 1.0) << width << "x" << depth;
    // Centred: the margins on both sides differ by a pixel at most.
    EXPECT_NEAR(short_margins, kSide - 1, 1.0) << width << "x" << depth;
  }
  // A map of one point has no extent; it lands in the middle.
  const auto point = picture_of({{5, 5, 5}, {5, 5, 5}}, {{0, 1}});
  ASSERT_TRUE(point);
  EXPECT_TRUE(lit(*point, (kSide - 1) / 2, kSide - 1 - (kSide - 1) / 2));
}

TEST(LayoutPicture, XRunsRightAndYUp) {
  // An L: along the x axis, and up the y axis.
  const auto picture = picture_of({{0, 0, 0}, {100, 0, 0}, {0, 100, 0}}, {{0, 1}, {0, 2}});
  ASSERT_TRUE(picture);
  for (int i = 0; i < kSide; ++i) {
    EXPECT_TRUE(lit(*picture, i, kSide - 1)) << i;  // the bottom row
    EXPECT_TRUE(lit(*picture, 0, i)) << i;          // the left column
  }
  EXPECT_FALSE(lit(*picture, kSide - 1, 0));
  EXPECT_FALSE(lit(*picture, kSide / 2, kSide / 2));
}

TEST(LayoutPicture, TheHighestLineWinsWhateverTheOrder) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> coordinate(-3000, 3000);
  std::vector<Vertex> vertices;
  for (int i = 0; i < 400; ++i)
    vertices.push_back({coordinate(random), coordinate(random), coordinate(random)});
  std::vector<Line> lines;
  for (std::uint32_t i = 0; i < 600; ++i) lines.push_back({i % 400, (i * 37 + 11) % 400});
  const auto drawn = picture_of(vertices, lines);
  ASSERT_TRUE(drawn);
  for (int round = 0; round < 5; ++round) {
    std::vector<Line> shuffled = lines;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    for (std::size_t i = round; i < shuffled.size(); i += 2)
      std::swap(shuffled[i].from, shuffled[i].to);
    const auto again = picture_of(vertices, shuffled);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->levels == drawn->levels) << round;
  }
  // Where a low and a high line cross, the crossing takes the high one's colour.
  const std::vector<Vertex> cross = {{0, 50, 0}, {100, 50, 0}, {50, 0, 90}, {50, 100, 90}};
  for (const auto& order : {std::vector<Line>{{0, 1}, {2, 3}}, std::vector<Line>{{2, 3}, {0, 1}}}) {
    const auto picture = picture_of(cross, order);
    ASSERT_TRUE(picture);
    int column = 0, row = 0;  // of the high line, of the low one
    while (column < kSide && !lit(*picture, column, 20)) ++column;
    while (row < kSide && !lit(*picture, 20, row)) ++row;
    ASSERT_LT(column, kSide);
    ASSERT_LT(row, kSide);
    const Rgb high = pixel(*picture, column, 20), low = pixel(*picture, 20, row);
    EXPECT_NE(high, low);
    EXPECT_EQ(pixel(*picture, column, row), high);
  }
}

TEST(LayoutPicture, HigherIsBrighter) {
  // A slope across the picture, from the lowest level to the highest.
  const auto picture = picture_of({{0, 0, 0}, {255, 0, 254}}, {{0, 1}});
  ASSERT_TRUE(picture);
  for (int x = 1; x < kSide; ++x) {
    EXPECT_GE(pixel(*picture, x, kSide / 2).brightness(),
              pixel(*picture, x - 1, kSide / 2).brightness())
        << x;
  }
  EXPECT_GT(pixel(*picture, kSide - 1, kSide / 2).brightness(),
            pixel(*picture, 0, kSide / 2).brightness() + 300);
  // Flat maps are drawn at the brightest level.
  const auto flat = picture_of(rectangle(10, 10, 3), kOutline);
  ASSERT_TRUE(flat);
  EXPECT_EQ(pixel(*flat, 0, 0), pixel(*picture, kSide - 1, kSide / 2));
}

TEST(LayoutPicture, NothingToDrawGivesNoPicture) {
  EXPECT_FALSE(picture_of(rectangle(10, 10), {}));
  // Lines put together by hand are checked as lines read from a map are.
  EXPECT_FALSE(picture_of(rectangle(10, 10), {{0, 4}}));
  EXPECT_FALSE(picture_of({{0, 0, 0}, {1e7f, 0, 0}}, {{0, 1}}));
  // A map whose only lines run from a vertex to itself, and one of no known family.
  const std::string points = tools::geometry_map(
      MapLayout::kVersion29, tools::line_geometry(MapLayout::kVersion29, {{1, 2, 3}}, {{0, 0}}));
  MemorySource point_source(points);
  EXPECT_FALSE(draw_map_layout(point_source));
  MemorySource text("not a map at all, just some text of a fair length");
  EXPECT_FALSE(draw_map_layout(text));
}

// Pictures mostly background and pictures of no background at all, of sides whose pixels
// fill the eight-pixel words the background is passed over in and of sides whose do not:
// every pixel is shown in the grey of its own level, in a new buffer or in one that held
// the greys of other pictures, larger and smaller.
TEST(LayoutPicture, EveryPixelIsShownInTheGreyOfItsLevel) {
  std::mt19937 random(3);
  std::vector<std::uint8_t> reused(300 * 300, 0xAA);
  for (const std::size_t side : {1u, 3u, 9u, 256u, 17u}) {
    for (const unsigned density : {2u, 100u}) {  // percent of pixels drawn
      LayoutPicture picture{side, std::vector<std::uint8_t>(side * side)};
      for (std::uint8_t& level : picture.levels) {
        if (random() % 100 < density) level = static_cast<std::uint8_t>(random() % 256);
      }
      const std::vector<std::uint8_t> grey = layout_grey(picture);
      ASSERT_EQ(grey.size(), picture.levels.size());
      for (std::size_t i = 0; i < grey.size(); ++i) {
        ASSERT_EQ(grey[i], level_grey(picture.levels[i])) << "side " << side << ", pixel " << i;
      }
      fill_grey(picture, reused);
      EXPECT_EQ(reused, grey) << "side " << side << ", density " << density;
    }
  }
}

// FNV-1a over the pixels as shown.
std::uint64_t fingerprint(const LayoutPicture& picture) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const std::uint8_t byte : layout_grey(picture)) hash = (hash ^ byte) * 1099511628211ull;
  return hash;
}

// Pinned pixels: the Windows build runs this too and must draw the very same picture.
TEST(LayoutPicture, ThePixelsAreTheSameOnEveryBuild) {
  for (const MapLayout layout : {MapLayout::kVersion29, MapLayout::kIbsp46}) {
    const std::string map = tools::geometry_map(layout, tools::room_geometry(layout));
    MemorySource source(map);
    const auto picture = draw_map_layout(source);
    ASSERT_TRUE(picture);
    EXPECT_EQ(fingerprint(*picture), 6268530733889388111u) << static_cast<int>(layout);
  }
  // The generator's numbers are fixed by the standard; the distributions' are not.
  std::mt19937 generator(11);
  const auto number = [&](std::uint32_t below) { return static_cast<float>(generator() % below); };
  std::vector<Vertex> vertices;
  for (int i = 0; i < 300; ++i) {
    const float x = number(100000) / 7.f, y = number(50000) / 3.f, z = number(4000) / 9.f;
    vertices.push_back({x, y, z});
  }
  std::vector<Line> lines;
  for (std::uint32_t i = 0; i < 500; ++i) {
    lines.push_back({static_cast<std::uint32_t>(number(300)), i % 300});
  }
  const auto picture = picture_of(vertices, lines);
  ASSERT_TRUE(picture);
  EXPECT_EQ(fingerprint(*picture), 8886611473366289731u);
}

}  // namespace
}  // namespace mapsweep::formats
