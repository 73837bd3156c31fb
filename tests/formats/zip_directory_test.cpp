// The zip directory read in its steps, as a caller does with a file: what the writer
// lays out (plain and ZIP64) reads back, entries that cannot be read are left out, and
// inconsistent archives are refused.
#include "formats/zip_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/zip_writer.h"

namespace mapsweep::formats {
namespace {

using testing::ZipMember;
using testing::ZipOptions;
using namespace std::string_literals;

std::optional<ZipDirectoryPlace> place_of(std::string_view archive) {
  const std::string_view tail =
      archive.substr(archive.size() - std::min(archive.size(), kZipTailBytes));
  const auto end = locate_zip_end(tail, archive.size());
  if (!end) return std::nullopt;
  if (end->directory) return end->directory;
  if (end->zip64_end_offset > archive.size()) return std::nullopt;
  return read_zip64_end(archive.substr(end->zip64_end_offset, kZip64EndBytes),
                        end->zip64_end_offset);
}

// The directory's usable entries header by header, as a lister walks them: no value when
// a header is cut or missing; entries that cannot be read are left out.
std::optional<std::vector<ZipEntry>> read_zip_directory(std::string_view directory,
                                                        const ZipDirectoryPlace& place,
                                                        std::uint64_t file_size) {
  std::vector<ZipEntry> entries;
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < place.entries; ++i) {
    ZipEntry entry;
    const ZipHeader header = read_zip_header(directory.substr(at), entry);
    if (header.result == ZipHeader::Result::kCut || header.result == ZipHeader::Result::kBroken) {
      return std::nullopt;
    }
    at += header.length;
    if (header.result == ZipHeader::Result::kRead && zip_entry_supported(entry) &&
        zip_entry_fits(entry, file_size)) {
      entries.push_back(entry);
    }
  }
  return entries;
}

std::optional<std::vector<ZipEntry>> entries_of(std::string_view archive) {
  const auto place = place_of(archive);
  if (!place) return std::nullopt;
  return read_zip_directory(archive.substr(place->offset, place->size), *place, archive.size());
}

std::string data_of(std::string_view archive, const ZipEntry& entry) {
  const auto at = zip_data_offset(archive.substr(entry.local_header_offset, kZipLocalHeaderBytes),
                                  entry, archive.size());
  return at ? std::string(archive.substr(*at, entry.compressed_size)) : "<none>";
}

// Overwrites the little-endian value at `at`.
void poke(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

ZipMember member(std::string name, std::string data) {
  ZipMember member;
  member.name = std::move(name);
  member.data = std::move(data);
  return member;
}

ZipOptions options(bool zip64, std::string comment = "") {
  ZipOptions options;
  options.zip64 = zip64;
  options.comment = std::move(comment);
  return options;
}

// Stored, deflated, and with a local name and extra field of their own.
const std::vector<ZipMember> kMembers = [] {
  ZipMember deflated = member("maps/b.bsp", std::string(5000, 'b'));
  deflated.deflated = true;
  ZipMember renamed = member("maps/c.bsp", "c");
  renamed.local_name = "another/name.bsp";
  renamed.local_extra = "\x99\x99\x03\0xyz"s;
  return std::vector<ZipMember>{member("maps/a.bsp", "stored data"), deflated, renamed};
}();

TEST(ZipDirectory, ReadsWhatTheWriterLaysOut) {
  for (const bool zip64 : {false, true}) {
    const std::string archive = testing::zip_archive(kMembers, options(zip64));
    const auto entries = entries_of(archive);
    ASSERT_TRUE(entries) << zip64;
    ASSERT_EQ(entries->size(), 3u);
    EXPECT_EQ((*entries)[0].name, "maps/a.bsp");
    EXPECT_EQ((*entries)[0].method, kZipStored);
    EXPECT_EQ(data_of(archive, (*entries)[0]), "stored data");
    EXPECT_EQ((*entries)[1].method, kZipDeflated);
    EXPECT_EQ((*entries)[1].uncompressed_size, 5000u);
    EXPECT_EQ(data_of(archive, (*entries)[1]), testing::raw_deflate(std::string(5000, 'b')));
    // The local header's own name and extra lengths lead to the data.
    EXPECT_EQ((*entries)[2].name, "maps/c.bsp");
    EXPECT_EQ(data_of(archive, (*entries)[2]), "c");
  }
}

TEST(ZipDirectory, EndRecordFoundBehindAnyComment) {
  const std::string fake_end = "PK\x05\x06"s + std::string(18, '\0');
  // A record in the comment that does not reach exactly to the end is not taken.
  for (const std::string& comment :
       {"x" + fake_end + "y", std::string(0xFFFF, 'c'), fake_end + std::string(0xFFFF - 22, 'c')}) {
    for (const bool zip64 : {false, true}) {
      const std::string archive = testing::zip_archive(kMembers, options(zip64, comment));
      const auto entries = entries_of(archive);
      ASSERT_TRUE(entries) << comment.size();
      EXPECT_EQ(entries->size(), 3u);
    }
  }
  // Bytes after the comment: the last record whose comment fits is taken.
  EXPECT_EQ(entries_of(testing::zip_archive(kMembers) + "junk")->size(), 3u);
  EXPECT_FALSE(locate_zip_end("", 0));
  EXPECT_FALSE(locate_zip_end("PK\x05\x06", 4));
  EXPECT_FALSE(locate_zip_end(std::string(100, '\0'), 100));
}

TEST(ZipDirectory, LeavesOutEntriesThatCannotBeRead) {
  std::vector<ZipMember> members = {member("encrypted", "e"), member("other method", "m"),
                                    member("readable", "r"), member("descriptor flag", "d")};
  members[0].flags = 1;
  members[1].method = 12;
  members[2].deflated = true;
  members[3].flags = 8;
  const std::string archive = testing::zip_archive(members);
  const auto entries = entries_of(archive);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].name, "readable");
  EXPECT_EQ((*entries)[1].name, "descriptor flag");

  // Data that would run past the end of the file; stored data whose sizes disagree.
  const auto place = place_of(archive);
  std::string broken = archive;
  poke(broken, place->offset + 2 * 46 + 9 + 12 + 20, 1000, 4);
  poke(broken, place->offset + 3 * 46 + 9 + 12 + 8 + 24, 2, 4);
  EXPECT_EQ(read_zip_directory(std::string_view(broken).substr(place->offset, place->size), *place,
                               broken.size())
                ->size(),
            0u);
}

TEST(ZipDirectory, RefusesInconsistentArchives) {
  const std::string archive = testing::zip_archive(kMembers);
  const auto place = place_of(archive);
  ASSERT_TRUE(place);
  const std::string_view directory = std::string_view(archive).substr(place->offset, place->size);
  const auto read = [&](std::string_view bytes, ZipDirectoryPlace at) {
    return read_zip_directory(bytes, at, archive.size());
  };
  ZipDirectoryPlace more = *place;
  more.entries = 4;  // the bytes hold three headers
  EXPECT_FALSE(read(directory, more));
  more.entries = place->size / 46 + 1;
  EXPECT_FALSE(read(directory, more));
  EXPECT_FALSE(read(directory.substr(0, directory.size() - 1), *place));
  std::string no_signature(directory);
  no_signature[46 + 10] = 'X';  // the second header's signature
  EXPECT_FALSE(read(no_signature, *place));
  std::string long_name(directory);
  poke(long_name, 2 * (46 + 10) + 28, 100, 2);  // the third name runs past the directory
  EXPECT_FALSE(read(long_name, *place));

  const std::size_t end = archive.size() - kZipEndBytes;
  std::string moved = archive;
  poke(moved, end + 16, place->offset + 1, 4);  // the directory overlaps the end record
  EXPECT_FALSE(place_of(moved));
  std::string split = archive;
  poke(split, end + 4, 1, 2);  // another disk
  EXPECT_FALSE(place_of(split));
  std::string counts = archive;
  poke(counts, end + 8, 2, 2);  // this disk's count differs from the total
  EXPECT_FALSE(place_of(counts));
}

TEST(ZipDirectory, RefusesBrokenZip64Records) {
  const std::string archive = testing::zip_archive(kMembers, options(true));
  const std::size_t record = archive.size() - kZipEndBytes - kZip64LocatorBytes - kZip64EndBytes;
  ASSERT_TRUE(place_of(archive));
  for (const auto& [at, value] : std::vector<std::pair<std::size_t, std::uint64_t>>{
           {0, 0x06064b51}, {24, 2}, {48, record - 10}, {40, ~0ull}, {32, 100}}) {
    std::string broken = archive;
    poke(broken, record + at, value, at == 0 ? 4 : 8);
    EXPECT_FALSE(place_of(broken)) << at;
  }
  std::string locator = archive;
  poke(locator, record + kZip64EndBytes + 8, record + 1, 8);  // record overlaps the locator
  EXPECT_FALSE(place_of(locator));

  // A saturated size with no ZIP64 value for it: that entry cannot be read.
  std::string no_extra = archive;
  const std::size_t directory = place_of(archive)->offset;
  poke(no_extra, directory + 46 + 10, 0x9999, 2);  // the ZIP64 field's id
  EXPECT_EQ(entries_of(no_extra)->size(), 2u);
}

TEST(ZipDirectory, LocalHeaderMustBeOneAndFit) {
  const std::string archive = testing::zip_archive(kMembers);
  const ZipEntry entry = (*entries_of(archive))[0];
  std::string local = archive.substr(0, kZipLocalHeaderBytes);
  EXPECT_EQ(zip_data_offset(local, entry, archive.size()), 30u + 10u);
  EXPECT_FALSE(zip_data_offset(local.substr(0, 29), entry, archive.size()));
  EXPECT_FALSE(zip_data_offset(local, entry, 30 + 10 + 10));
  poke(local, 28, 0xFFFF, 2);  // an extra field longer than the file
  EXPECT_FALSE(zip_data_offset(local, entry, archive.size()));
  local[0] = 'X';
  EXPECT_FALSE(zip_data_offset(local, entry, archive.size()));
}

}  // namespace
}  // namespace mapsweep::formats
