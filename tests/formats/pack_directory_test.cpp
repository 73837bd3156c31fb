// The PACK header and directory: what the writer lays out reads back, and every way a
// header or an entry can point outside the file.
#include "formats/pack_directory.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/pack_writer.h"

namespace mapsweep::formats {
namespace {

using namespace std::string_literals;

std::string int32_le(std::int32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

std::string header(std::int32_t offset, std::int32_t length) {
  return "PACK" + int32_le(offset) + int32_le(length);
}

std::string entry(std::string path, std::int32_t offset, std::int32_t size) {
  path.resize(kPackPathBytes, '\0');
  return path + int32_le(offset) + int32_le(size);
}

TEST(PackDirectory, ReadsWhatTheWriterLaysOut) {
  tools::PackBuilder builder;
  builder.add_file("maps/e1m1.bsp", "first");
  builder.add_file_at(100, "progs/x.mdl", std::string(300, 'm'));
  builder.add_file("empty", "");
  const std::string archive = builder.build();

  const auto place = read_pack_header(archive.substr(0, kPackHeaderBytes), archive.size());
  ASSERT_TRUE(place);
  EXPECT_EQ(place->offset, builder.data_end());
  EXPECT_EQ(place->length, 3 * kPackEntryBytes);
  const auto entries =
      read_pack_directory(std::string_view(archive).substr(place->offset), archive.size());
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].path, "maps/e1m1.bsp");
  EXPECT_EQ(archive.substr((*entries)[0].offset, (*entries)[0].size), "first");
  EXPECT_EQ((*entries)[1].path, "progs/x.mdl");
  EXPECT_EQ((*entries)[1].offset, 100u);
  EXPECT_EQ((*entries)[1].size, 300u);
  EXPECT_EQ((*entries)[2].size, 0u);
}

TEST(PackDirectory, HeaderRejectsTheArchiveAsAWhole) {
  EXPECT_FALSE(read_pack_header("PACK\0\0\0\0\0\0\0"s, 100));  // 11 bytes
  EXPECT_FALSE(read_pack_header("KCAP" + header(12, 0).substr(4), 100));
  EXPECT_FALSE(read_pack_header(header(-1, 0), 100));
  EXPECT_FALSE(read_pack_header(header(12, -64), 100));
  EXPECT_FALSE(read_pack_header(header(12, 63), 100));
  EXPECT_FALSE(read_pack_header(header(12, 64), 75));  // one byte short
  EXPECT_FALSE(read_pack_header(header(0x7FFFFFFF, 0x7FFFFFC0), 0xFFFFFFBEull));
  EXPECT_TRUE(read_pack_header(header(0x7FFFFFFF, 0x7FFFFFC0), 0xFFFFFFBFull));

  const auto empty = read_pack_header(header(12, 0), 12);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->length, 0u);
  EXPECT_TRUE(read_pack_header(header(12, 64), 76));
  EXPECT_TRUE(read_pack_header(header(12, 0), 12 + 1));
}

TEST(PackDirectory, SkipsEntriesThatCannotBeRead) {
  const std::uint64_t file_size = 1000;
  const std::string directory = entry(std::string(56, 'p'), 12, 1) +  // no NUL in the path
                                entry("negative offset", -1, 1) + entry("negative size", 12, -1) +
                                entry("past the end", 990, 11) + entry("to the end", 990, 10) +
                                entry("a\0hidden"s, 0, 0) + entry(std::string(55, 'q'), 0, 1000);
  const auto entries = read_pack_directory(directory, file_size);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].path, "to the end");
  EXPECT_EQ((*entries)[1].path, "a");
  EXPECT_EQ((*entries)[2].path, std::string(55, 'q'));
}

TEST(PackDirectory, DirectoryBytesMustBeWholeEntries) {
  EXPECT_FALSE(read_pack_directory(entry("x", 0, 0) + "y", 100));
  EXPECT_EQ(read_pack_directory("", 100)->size(), 0u);
}

}  // namespace
}  // namespace mapsweep::formats
