// Archives built to hurt or damaged on the way: every one costs a bounded amount of reading
// (entries sharing their data are read once, the rest stops at the budget), a damaged
// directory is told apart from a whole one, and names no list line can hold are refused.
#include "formats/archive_maps.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/hostile_archives.h"
#include "support/zip_writer.h"
#include "tools/map_archive_writer.h"

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

std::string with_int32(std::string bytes, std::size_t at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
  return bytes;
}

TEST(ArchiveMaps, HostileAndDamagedArchivesCostLittleAndSayWhatTheyAre) {
  const std::string big = testing::map_with_text("Big", 12u << 20);  // past the entity-text limit
  const std::string good = testing::map_with_text("Good", 100);
  const std::string pack = tools::pack_archive({{"maps/good.bsp", good}, {"maps/more.bsp", good}});
  testing::ZipMember good_member;
  good_member.name = "maps/good.bsp";
  good_member.data = good;
  const std::string zip = testing::zip_archive({good_member, good_member});
  const std::string bomb = testing::expanding_zip(60, 20u << 20);

  const struct {
    const char* what;
    std::string archive;
    ArchiveKind kind;
    ArchiveOutcome outcome;
    int titled;
    int damaged;
    int refused;
  } cases[] = {
      {"zip entries sharing one huge map", testing::zip_sharing_one_map(big, 2000, 0), ArchiveKind::kZip,
       ArchiveOutcome::kWhole, 2000, 0, 0},
      {"zip entries overlapping one map", testing::zip_sharing_one_map(big, 2000, 1), ArchiveKind::kZip,
       ArchiveOutcome::kDamaged, 1, 1999, 0},
      {"PACK entries sharing one huge map", testing::pack_sharing_one_map(big, 3000, 0),
       ArchiveKind::kPack, ArchiveOutcome::kWhole, 3000, 0, 0},
      {"PACK entries overlapping one map", testing::pack_sharing_one_map(big, 3000, 64),
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
