// The layout pictures as PNG files: signature, a header of 256 x 256 8-bit grey, and image
// data that inflates and unfilters back to the very pixels drawn.
#include "app/layout_png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
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

// The grey pixels the PNG file holds, after checking its signature, its chunks' checksums, a
// header of side x side 8-bit grey, and a zlib stream that inflates (its checksum checked)
// to rows of exactly that many pixels. Empty when any of that fails.
std::vector<std::uint8_t> decoded_pixels(const std::string& png, std::size_t side) {
  if (png.size() <= 8 || png.substr(0, 8) != "\x89PNG\r\n\x1A\n") {
    ADD_FAILURE() << "no PNG signature";
    return {};
  }
  const std::vector<Chunk> chunks = chunks_of(png);
  if (chunks.size() < 3 || chunks.front().type != "IHDR" || chunks.front().data.size() != 13 ||
      chunks.back().type != "IEND") {
    ADD_FAILURE() << "chunks out of order";
    return {};
  }
  EXPECT_EQ(big_endian_at(chunks.front().data, 0), side);
  EXPECT_EQ(big_endian_at(chunks.front().data, 4), side);
  EXPECT_EQ(chunks.front().data.substr(8), std::string("\x08\0\0\0\0", 5));  // 8-bit grey
  std::string compressed;
  for (const Chunk& chunk : chunks) {
    if (chunk.type == "IDAT") compressed += chunk.data;
  }
  // One byte more than the rows take, so that a stream holding more than they do is seen.
  std::string rows(side * (1 + side) + 1, '\0');
  uLongf length = rows.size();
  const int status =
      uncompress(reinterpret_cast<Bytef*>(rows.data()), &length,
                 reinterpret_cast<const Bytef*>(compressed.data()), compressed.size());
  if (status != Z_OK || length != rows.size() - 1) {
    ADD_FAILURE() << "the image data does not inflate to its rows: " << status;
    return {};
  }
  return unfiltered(rows, side);
}

TEST(LayoutPng, HoldsThePicturePixelForPixel) {
  const std::string map = tools::geometry_map(tools::MapLayout::kIbsp46,
                                              tools::room_geometry(tools::MapLayout::kIbsp46));
  formats::MemorySource source(map);
  const auto picture = formats::draw_map_layout(source);
  ASSERT_TRUE(picture);
  EXPECT_EQ(decoded_pixels(layout_png(*picture), 256), formats::layout_grey(*picture));
}

// Pictures of every density, from background only to no background at all, and of sides
// whose rows take one piece of compression or several: each file decodes to its pixels.
TEST(LayoutPng, EveryPictureDecodesToItsPixels) {
  std::mt19937 random(20261208);
  for (const std::size_t side : {1u, 7u, 256u, 300u, 700u}) {
    for (const unsigned density : {0u, 1u, 20u, 100u}) {  // percent of pixels drawn
      formats::LayoutPicture picture{side, std::vector<std::uint8_t>(side * side)};
      for (std::uint8_t& level : picture.levels) {
        if (random() % 100 < density) level = static_cast<std::uint8_t>(1 + random() % 255);
      }
      EXPECT_EQ(decoded_pixels(layout_png(picture), side), formats::layout_grey(picture))
          << "side " << side << ", density " << density;
    }
  }
}

// The checksum that passes over zero bytes agrees with zlib's on every length (across the
// eight-byte words it takes zeros in and the blocks it reduces its sums after) and density,
// including bytes that are all 255, which make its sums grow fastest.
TEST(LayoutPng, SparseChecksumAgreesWithZlibs) {
  std::mt19937 random(7);
  const std::size_t lengths[] = {0, 1, 7, 8, 9, 65535, 65536, 65537, 65792, 200003};
  for (const std::size_t length : lengths) {
    for (const unsigned density : {0u, 3u, 50u, 100u}) {
      std::vector<unsigned char> bytes(length);
      for (unsigned char& byte : bytes) {
        if (random() % 100 < density) byte = static_cast<unsigned char>(1 + random() % 255);
      }
      const auto expected = adler32(1, bytes.data(), static_cast<uInt>(bytes.size()));
      EXPECT_EQ(sparse_adler32(bytes), expected) << length << " bytes, density " << density;
    }
    const std::vector<unsigned char> full(length, 255);
    EXPECT_EQ(sparse_adler32(full), adler32(1, full.data(), static_cast<uInt>(full.size())))
        << length << " bytes of 255";
  }
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
