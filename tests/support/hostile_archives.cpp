#include "support/hostile_archives.h"

#include <vector>

#include "support/zip_writer.h"
#include "tools/map_archive_writer.h"

namespace mapsweep::testing {
namespace {

void put_le(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int b = 0; b < width; ++b) bytes[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
}

}  // namespace

// A playable map whose entity text is padded with a comment to `text_bytes`.
std::string map_with_text(const std::string& title, std::size_t text_bytes) {
  std::string text = tools::entity_text({{{"classname", "worldspawn"}, {"message", title}},
                                         {{"classname", "info_player_start"}}});
  text += "// " + std::string(text_bytes > text.size() + 4 ? text_bytes - text.size() - 4 : 0, ' ');
  text += "\n";
  return tools::bsp_map(tools::MapLayout::kVersion29, text, text.size() + 200);
}

std::string zip_sharing_one_map(const std::string& map, int copies, std::uint64_t step) {
  ZipMember member;
  member.name = "maps/shared.bsp";
  member.data = map;
  member.deflated = true;
  member.level = 1;
  const std::string one = zip_archive({member});
  // The single central header, copied under names of the same length.
  const std::size_t header_bytes = 46 + member.name.size();
  const std::size_t directory_at = one.size() - 22 - header_bytes;
  const std::string header = one.substr(directory_at, header_bytes);
  std::string archive = one.substr(0, directory_at);
  for (int i = 0; i < copies; ++i) {
    std::string copy = header;
    copy.replace(46, member.name.size(), "maps/sh" + std::to_string(10000 + i).substr(1) + ".bsp");
    put_le(copy, 42, i * step, 4);
    archive += copy;
  }
  std::string end = one.substr(one.size() - 22);
  put_le(end, 8, copies, 2);
  put_le(end, 10, copies, 2);
  put_le(end, 12, archive.size() - directory_at, 4);
  put_le(end, 16, directory_at, 4);
  return archive + end;
}

std::string pack_sharing_one_map(const std::string& map, int copies, std::size_t step) {
  std::string archive = tools::pack_archive({{"maps/shared.bsp", map}});
  archive.resize(archive.size() - tools::kPackEntrySize);
  const std::size_t directory_at = archive.size();
  for (int i = 0; i < copies; ++i) {
    std::string entry = "maps/p" + std::to_string(i) + ".bsp";
    entry.resize(tools::kPackEntrySize, '\0');
    put_le(entry, tools::kPackNameSize, tools::kPackHeaderSize + i * step, 4);
    put_le(entry, tools::kPackNameSize + 4, map.size() - i * step, 4);
    archive += entry;
  }
  put_le(archive, 8, archive.size() - directory_at, 4);
  return archive;
}

std::string expanding_zip(int members, std::size_t lump_at) {
  const std::string text = tools::entity_text({{{"classname", "worldspawn"}}});
  const std::string map = tools::bsp_map(tools::MapLayout::kVersion29, text, 0, lump_at);
  ZipMember member;
  member.method = 8;  // given deflated, so that it is deflated once for all members
  member.data = raw_deflate(map, 9);
  member.size = map.size();
  std::vector<ZipMember> all;
  for (int i = 0; i < members; ++i) {
    member.name = "maps/b" + std::to_string(i) + ".bsp";
    all.push_back(member);
  }
  return zip_archive(all);
}

}  // namespace mapsweep::testing
