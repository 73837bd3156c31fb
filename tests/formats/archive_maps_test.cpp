// Archives built to hurt or damaged on the way: every one costs a bounded amount of reading
// (entries sharing their data are read once, the rest stops at the budget), a damaged
// directory is told apart from a whole one, and names no list line can hold are refused.
#include "formats/archive_maps.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/zip_writer.h"
#include "tools/pack_writer.h"

namespace mapsweep::formats {
namespace {

// Memory that counts what is read from it.
class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(std::string_view bytes) : memory_(bytes) {}
  std::uint64_t size() const override { return memory_.size(); }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override {
    bytes_read += count;
    return memory_.read(offset, count, into);
  }
  std::uint64_t bytes_read = 0;

 private:
  MemorySource memory_;
};

// A playable map whose entity text is padded with a comment to `text_bytes`.
std::string map_with_text(const std::string& title, std::size_t text_bytes) {
  std::string text = tools::entity_text({{{"classname", "worldspawn"}, {"message", title}},
                                         {{"classname", "info_player_start"}}});
  text += "// " + std::string(text_bytes > text.size() + 4 ? text_bytes - text.size() - 4 : 0, ' ');
  text += "\n";
  return tools::bsp_map(tools::MapLayout::kVersion29, text, text.size() + 200);
}

struct Outcome {
  ArchiveOutcome archive;
  int titled = 0;
  int damaged = 0;
  int refused = 0;
  std::uint64_t bytes_read = 0;
};

Outcome read_all(const std::string& archive, ArchiveKind kind) {
  CountingSource source(archive);
  Outcome outcome;
  outcome.archive = read_archive_maps(source, kind, [&](const ArchivedMap& map) {
    outcome.titled += map.read->outcome == MapOutcome::kTitled;
    outcome.damaged += map.read->outcome == MapOutcome::kDamaged;
    outcome.refused += map.read->outcome == MapOutcome::kNameRefused;
  });
  outcome.bytes_read = source.bytes_read;
  return outcome;
}

// A zip whose `copies` directory entries all name the one deflated map at its start.
std::string zip_sharing_one_map(const std::string& map, int copies, std::uint64_t step) {
  testing::ZipMember member;
  member.name = "maps/shared.bsp";
  member.data = map;
  member.deflated = true;
  member.level = 1;
  const std::string one = testing::zip_archive({member});
  // The single central header, copied with new names; `step` moves each copy's local
  // header offset on (a step of 0 shares the data, any other overlaps it).
  const std::size_t directory_at = one.size() - 22 - (46 + member.name.size());
  const std::string header = one.substr(directory_at, 46 + member.name.size());
  std::string archive = one.substr(0, directory_at);
  const std::size_t directory_offset = archive.size();
  for (int i = 0; i < copies; ++i) {
    std::string copy = header;
    const std::string name = "maps/sh" + std::to_string(10000 + i).substr(1) + ".bsp";
    copy.replace(46, member.name.size(), name);
    const std::uint64_t local = i * step;
    for (int b = 0; b < 4; ++b) copy[42 + b] = static_cast<char>((local >> (8 * b)) & 0xFF);
    archive += copy;
  }
  const std::size_t directory_size = archive.size() - directory_offset;
  std::string end = one.substr(one.size() - 22);
  for (int b = 0; b < 2; ++b) end[8 + b] = end[10 + b] = static_cast<char>((copies >> (8 * b)) & 0xFF);
  for (int b = 0; b < 4; ++b) {
    end[12 + b] = static_cast<char>((directory_size >> (8 * b)) & 0xFF);
    end[16 + b] = static_cast<char>((directory_offset >> (8 * b)) & 0xFF);
  }
  return archive + end;
}

std::string pack_sharing_one_map(const std::string& map, int copies, std::size_t step) {
  tools::PackBuilder builder;
  builder.add_file("maps/shared.bsp", map);
  std::string archive = builder.build();
  // Rewrite the directory: `copies` entries at data offset 12 + i * step.
  archive.resize(archive.size() - tools::kPackEntrySize);
  const std::size_t directory_at = archive.size();
  for (int i = 0; i < copies; ++i) {
    std::string entry = "maps/p" + std::to_string(i) + ".bsp";
    entry.resize(tools::kPackNameSize, '\0');
    tools::put_bytes(entry, 56, std::string(8, '\0'));
    const std::uint32_t offset = static_cast<std::uint32_t>(12 + i * step);
    const std::uint32_t size = static_cast<std::uint32_t>(map.size() - i * step);
    for (int b = 0; b < 4; ++b) {
      entry[56 + b] = static_cast<char>((offset >> (8 * b)) & 0xFF);
      entry[60 + b] = static_cast<char>((size >> (8 * b)) & 0xFF);
    }
    archive += entry;
  }
  const std::uint32_t length = static_cast<std::uint32_t>(archive.size() - directory_at);
  for (int b = 0; b < 4; ++b) archive[8 + b] = static_cast<char>((length >> (8 * b)) & 0xFF);
  return archive;
}

std::string with_int32(std::string bytes, std::size_t at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
  return bytes;
}

TEST(ArchiveMaps, HostileAndDamagedArchivesCostLittleAndSayWhatTheyAre) {
  const std::string big = map_with_text("Big", 12u << 20);  // past the entity-text limit
  const std::string good = map_with_text("Good", 100);
  const std::string pack = tools::pack_archive({{"maps/good.bsp", good}, {"maps/more.bsp", good}});
  testing::ZipMember good_member;
  good_member.name = "maps/good.bsp";
  good_member.data = good;
  const std::string zip = testing::zip_archive({good_member, good_member});
  const std::string bomb = [] {
    // Distinct members that each inflate megabytes of header padding before their lump.
    const std::string text = tools::entity_text({{{"classname", "worldspawn"}}});
    const std::string map = tools::bsp_map(tools::MapLayout::kVersion29, text, 0, 20u << 20);
    testing::ZipMember m;
    m.method = 8;
    m.data = testing::raw_deflate(map, 9);
    m.size = map.size();
    std::vector<testing::ZipMember> members;
    for (int i = 0; i < 60; ++i) {
      m.name = "maps/b" + std::to_string(i) + ".bsp";
      members.push_back(m);
    }
    return testing::zip_archive(members);
  }();

  const struct {
    const char* what;
    std::string archive;
    ArchiveKind kind;
    ArchiveOutcome outcome;
    int titled;
    int damaged;
    int refused;
  } cases[] = {
      {"zip entries sharing one huge map", zip_sharing_one_map(big, 2000, 0), ArchiveKind::kZip,
       ArchiveOutcome::kWhole, 2000, 0, 0},
      {"zip entries overlapping one map", zip_sharing_one_map(big, 2000, 1), ArchiveKind::kZip,
       ArchiveOutcome::kDamaged, 1, 1999, 0},
      {"PACK entries sharing one huge map", pack_sharing_one_map(big, 3000, 0),
       ArchiveKind::kPack, ArchiveOutcome::kWhole, 3000, 0, 0},
      {"PACK entries overlapping one map", pack_sharing_one_map(big, 3000, 64),
       ArchiveKind::kPack, ArchiveOutcome::kDamaged, 1, 2999, 0},
      {"zip members expanding a thousandfold", bomb, ArchiveKind::kZip,
       ArchiveOutcome::kOverBudget, 0, 0, 0},
      {"PACK directory cut by 40 bytes", pack.substr(0, pack.size() - 40), ArchiveKind::kPack,
       ArchiveOutcome::kDamaged, 0, 0, 0},
      {"PACK directory of 2^31 bytes", with_int32(pack, 8, 0x80000000u), ArchiveKind::kPack,
       ArchiveOutcome::kDamaged, 0, 0, 0},
      {"PACK entry pointing past the end", with_int32(pack, pack.size() - 4, 1u << 30),
       ArchiveKind::kPack, ArchiveOutcome::kDamaged, 1, 0, 0},
      {"zip directory cut by 10 bytes",
       zip.substr(0, zip.size() - 32) + zip.substr(zip.size() - 22), ArchiveKind::kZip,
       ArchiveOutcome::kDamaged, 0, 0, 0},
      {"zip directory of 2^31 bytes", with_int32(zip, zip.size() - 10, 0x80000000u),
       ArchiveKind::kZip, ArchiveOutcome::kDamaged, 0, 0, 0},
      {"zip cut before its end record", zip.substr(0, zip.size() - 30), ArchiveKind::kZip,
       ArchiveOutcome::kDamaged, 0, 0, 0},
      {"no archive at all", std::string(5000, 'x'), ArchiveKind::kZip,
       ArchiveOutcome::kNotArchive, 0, 0, 0},
      {"names no line can hold",
       tools::pack_archive({{"maps/a\nb.bsp", good}, {"maps/c\rr.bsp", good},
                            {"maps/q\"t.bsp", good}, {"maps/s\x1Au.bsp", good},
                            {"maps/d\x7F.bsp", good}, {"maps/tab\t.bsp", good},
                            {"maps/fine.bsp", good}}),
       ArchiveKind::kPack, ArchiveOutcome::kWhole, 1, 0, 6},
  };
  for (const auto& c : cases) {
    const Outcome outcome = read_all(c.archive, c.kind);
    EXPECT_EQ(outcome.archive, c.outcome) << c.what;
    EXPECT_EQ(outcome.titled, c.titled) << c.what;
    EXPECT_EQ(outcome.damaged, c.damaged) << c.what;
    EXPECT_EQ(outcome.refused, c.refused) << c.what;
    // Never more than the budget, and shared data only once: one entity text of at most
    // the limit, the directory and a header per entry.
    EXPECT_LE(outcome.bytes_read, 4 * c.archive.size() + kWorkAllowance) << c.what;
    EXPECT_LE(outcome.bytes_read, c.archive.size() + kEntityTextLimit + (1u << 20)) << c.what;
  }
}

}  // namespace
}  // namespace mapsweep::formats
