// The layout pictures as PNG files: signature, a header of 256 x 256 8-bit grey, and image
// data that inflates and unfilters back to the very pixels drawn.
#include "app/layout_png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/layout_picture.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

std::uint32_t big_endian_at(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

struct Chunk {
  std::string type;
  std::string data;
};

// The file's chunks; a chunk whose checksum is wrong fails the test.
std::vector<Chunk> chunks_of(const std::string& png) {
  std::vector<Chunk> chunks;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = big_endian_at(png, at);
    const std::string type_and_data = png.substr(at + 4, 4 + length);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(type_and_data.data()), 4 + length);
    EXPECT_EQ(big_endian_at(png, at + 8 + length), crc) << type_and_data.substr(0, 4);
    chunks.push_back({type_and_data.substr(0, 4), type_and_data.substr(4)});
    at += 12 + length;
  }
  return chunks;
}

// The pixels of rows of `side` grey pixels, each row led by its filter: none, as the
// encoder is told to use.
std::vector<std::uint8_t> unfiltered(const std::string& rows, std::size_t side) {
  const std::size_t stride = side;
  std::vector<std::uint8_t> pixels;
  for (std::size_t row = 0; row < side; ++row) {
    EXPECT_EQ(rows[row * (stride + 1)], '\0') << "row " << row;
    const char* first = rows.data() + row * (stride + 1) + 1;
    pixels.insert(pixels.end(), first, first + stride);
  }
  return pixels;
}

TEST(LayoutPng, HoldsThePicturePixelForPixel) {
  const std::string map = tools::geometry_map(tools::MapLayout::kIbsp46,
                                              tools::room_geometry(tools::MapLayout::kIbsp46));
  formats::MemorySource source(map);
  const auto picture = formats::draw_map_layout(source);
  ASSERT_TRUE(picture);
  const std::string png = layout_png(*picture);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
  const std::vector<Chunk> chunks = chunks_of(png);
  ASSERT_GE(chunks.size(), 3u);
  ASSERT_EQ(chunks.front().type, "IHDR");
  ASSERT_EQ(chunks.front().data.size(), 13u);
  EXPECT_EQ(big_endian_at(chunks.front().data, 0), 256u);
  EXPECT_EQ(big_endian_at(chunks.front().data, 4), 256u);
  EXPECT_EQ(chunks.front().data.substr(8), std::string("\x08\0\0\0\0", 5));  // 8-bit grey
  EXPECT_EQ(chunks.back().type, "IEND");

  std::string compressed;
  for (const Chunk& chunk : chunks) {
    if (chunk.type == "IDAT") compressed += chunk.data;
  }
  std::string rows(256 * (1 + 256) + 1, '\0');
  uLongf length = rows.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(rows.data()), &length,
                       reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()),
            Z_OK);
  ASSERT_EQ(length, rows.size() - 1);
  EXPECT_EQ(unfiltered(rows, 256), formats::layout_grey(*picture));
}

TEST(LayoutPng, APictureThatIsNotWholeGivesNoFile) {
  formats::LayoutPicture picture;
  EXPECT_EQ(layout_png(picture), "");
  picture.levels.assign(256 * 256 - 1, 0);
  EXPECT_EQ(layout_png(picture), "");
  picture.side = 0;
  EXPECT_EQ(layout_png(picture), "");
  picture.side = 2;
  picture.levels.assign(2 * 2, 7);
  EXPECT_NE(layout_png(picture), "");
}

}  // namespace
}  // namespace mapsweep
