// The PACK header and directory: what the writer lays out reads back, and every way a
// header or an entry can point outside the file.
#include "formats/pack_directory.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tools/map_archive_writer.h"

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

using Result = PackHeader::Result;

Result header_result(std::string_view bytes, std::uint64_t file_size) {
  return read_pack_header(bytes, file_size).result;
}

TEST(PackDirectory, ReadsWhatTheWriterLaysOut) {
  tools::PackBuilder builder;
  builder.add_file("maps/e1m1.bsp", "first");
  builder.add_file_at(100, "progs/x.mdl", std::string(300, 'm'));
  builder.add_file("empty", "");
  const std::string archive = builder.build();

  const PackHeader header = read_pack_header(archive.substr(0, kPackHeaderBytes), archive.size());
  ASSERT_EQ(header.result, Result::kRead);
  EXPECT_EQ(header.place.offset, builder.data_end());
  EXPECT_EQ(header.place.length, 3 * kPackEntryBytes);
  std::vector<PackEntry> entries;
  for (std::size_t at = header.place.offset; at < archive.size(); at += kPackEntryBytes) {
    const PackEntryRead read = read_pack_entry(std::string_view(archive).substr(at), archive.size());
    ASSERT_EQ(read.result, PackEntryRead::Result::kRead);
    entries.push_back(read.entry);
  }
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].path, "maps/e1m1.bsp");
  EXPECT_EQ(archive.substr(entries[0].offset, entries[0].size), "first");
  EXPECT_EQ(entries[1].path, "progs/x.mdl");
  EXPECT_EQ(entries[1].offset, 100u);
  EXPECT_EQ(entries[1].size, 300u);
  EXPECT_EQ(entries[2].size, 0u);
}

// Some other file is no PACK; a PACK whose directory cannot be where it says is damaged.
TEST(PackDirectory, HeaderTellsOtherFilesFromDamagedOnes) {
  EXPECT_EQ(header_result("PACK\0\0\0\0\0\0\0"s, 100), Result::kNotPack);  // 11 bytes
  EXPECT_EQ(header_result("KCAP" + header(12, 0).substr(4), 100), Result::kNotPack);
  EXPECT_EQ(header_result(header(-1, 0), 100), Result::kDamaged);
  EXPECT_EQ(header_result(header(12, -64), 100), Result::kDamaged);
  EXPECT_EQ(header_result(header(12, 63), 100), Result::kDamaged);
  EXPECT_EQ(header_result(header(12, 64), 75), Result::kDamaged);  // one byte short
  EXPECT_EQ(header_result(header(12, INT32_MIN), 100), Result::kDamaged);  // 2^31
  EXPECT_EQ(header_result(header(0x7FFFFFFF, 0x7FFFFFC0), 0xFFFFFFBEull), Result::kDamaged);
  EXPECT_EQ(header_result(header(0x7FFFFFFF, 0x7FFFFFC0), 0xFFFFFFBFull), Result::kRead);

  const PackHeader empty = read_pack_header(header(12, 0), 12);
  ASSERT_EQ(empty.result, Result::kRead);
  EXPECT_EQ(empty.place.length, 0u);
  EXPECT_EQ(header_result(header(12, 64), 76), Result::kRead);
  EXPECT_EQ(header_result(header(12, 0), 12 + 1), Result::kRead);
}

TEST(PackDirectory, EntriesThatCannotBeReadAreToldApart) {
  using Entry = PackEntryRead::Result;
  const std::uint64_t file_size = 1000;
  const struct {
    std::string bytes;
    Entry result;
    std::string_view path;
  } cases[] = {
      {entry(std::string(56, 'p'), 12, 1), Entry::kNoPath, ""},  // no NUL ends the path
      {entry("negative offset", -1, 1), Entry::kOutside, ""},
      {entry("negative size", 12, -1), Entry::kOutside, ""},
      {entry("past the end", 990, 11), Entry::kOutside, ""},
      {entry("to the end", 990, 10), Entry::kRead, "to the end"},
      {entry("a\0hidden"s, 0, 0), Entry::kRead, "a"},
      {entry(std::string(55, 'q'), 0, 1000), Entry::kRead, "qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq"},
  };
  for (const auto& c : cases) {
    const PackEntryRead read = read_pack_entry(c.bytes, file_size);
    EXPECT_EQ(read.result, c.result) << c.bytes.substr(0, 20);
    if (c.result == Entry::kRead) {
      EXPECT_EQ(read.entry.path, c.path);
    }
  }
}

}  // namespace
}  // namespace mapsweep::formats
