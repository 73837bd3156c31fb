// The pictures' zlib streams: whatever the bytes, zlib's own inflater (which checks the
// Adler-32 sum too) gives them back, and runs cost a few bits each.
#include "app/run_length_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

namespace mapsweep {
namespace {

// The bytes zlib inflates `stream` to, or "<failed>".
std::string inflated(const std::string& stream, std::size_t size) {
  std::string out(size + 1, '\0');
  uLongf length = out.size();
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                 reinterpret_cast<const Bytef*>(stream.data()), stream.size()) != Z_OK) {
    return "<failed>";
  }
  out.resize(length);
  return out;
}

std::string round_trip(const std::string& bytes) {
  std::string stream = "kept";
  append_run_length_zlib(bytes, stream);
  EXPECT_EQ(stream.substr(0, 4), "kept");  // appended, not replaced
  return inflated(stream.substr(4), bytes.size());
}

TEST(RunLengthDeflate, GivesBackEveryKindOfBytes) {
  EXPECT_EQ(round_trip(""), "");
  EXPECT_EQ(round_trip("x"), "x");
  EXPECT_EQ(round_trip(std::string("\0\0\0", 3)), std::string("\0\0\0", 3));
  std::string every_byte;
  for (int i = 0; i < 256; ++i) every_byte.push_back(static_cast<char>(i));
  EXPECT_EQ(round_trip(every_byte), every_byte);
  std::mt19937 generator(5);
  std::string noise;
  for (int i = 0; i < 100000; ++i) noise.push_back(static_cast<char>(generator()));
  EXPECT_EQ(round_trip(noise), noise);
}

// Runs of every length from 1 past the longest copy deflate has, of a low and a high byte,
// each after a byte of its own, at every alignment to the words they are compared in.
TEST(RunLengthDeflate, GivesBackRunsOfEveryLength) {
  std::string runs;
  for (std::size_t length = 1; length <= 600; ++length) {
    runs.push_back(static_cast<char>(length % 7));
    runs.append(length, static_cast<char>(length % 2 == 0 ? 0 : 0xE5));
  }
  EXPECT_EQ(round_trip(runs), runs);
}

TEST(RunLengthDeflate, ALongRunTakesAFewBitsAPiece) {
  const std::string blank(256 * 257, '\0');
  std::string stream;
  append_run_length_zlib(blank, stream);
  EXPECT_EQ(inflated(stream, blank.size()), blank);
  // 256 copies of the longest length, 13 bits each, and the frame.
  EXPECT_LT(stream.size(), 450u);
}

}  // namespace
}  // namespace mapsweep
