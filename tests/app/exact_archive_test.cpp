// Exact mode reads one map the same way wherever it lies: a PACK entry, a stored or
// deflated zip entry (any level, with or without a data descriptor or ZIP64 records) and a
// loose map file give the same line. And an archive whose directory is damaged keeps the
// folder's old list, while names no list line can hold are reported, never written.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "program_tree.h"
#include "support/zip_writer.h"

namespace mapsweep {
namespace {

using testing::ZipMember;

struct RandomMap {
  std::string name;
  std::string bytes;
  bool playable = false;
};

// Title bytes a map's message may hold: letters, digits, spaces, high-bit bytes, the
// two-byte "\n" and control bytes; never a quote, which would end the value.
std::string random_message(std::mt19937& random) {
  static const std::string kBytes = std::string("aZ09 -_!\\n\t\x01\x1F\x7F\x80\xC8\xE9\xFF") + "";
  std::string message;
  for (int n = std::uniform_int_distribution<int>(0, 40)(random); n > 0; --n) {
    message += kBytes[std::uniform_int_distribution<std::size_t>(0, kBytes.size() - 1)(random)];
  }
  return message;
}

// Entity text of about `bytes` bytes: the world and maybe a player start, before or after
// comments and light entities that fill it (after them, a reader that stops short of the
// end misses them), with LF or CR LF line ends.
std::string random_entity_text(std::mt19937& random, std::size_t bytes, bool playable) {
  const auto line_end = random() % 2 ? tools::LineEnd::kCrLf : tools::LineEnd::kLf;
  std::vector<tools::EntityPairs> blocks = {
      {{"classname", "worldspawn"}, {"message", random_message(random)}, {"wad", "gfx.wad"}}};
  if (playable) blocks.push_back({{"classname", "info_player_start"}, {"origin", "0 0 24"}});
  const std::string main = tools::entity_text(blocks, line_end);
  const std::string eol = line_end == tools::LineEnd::kCrLf ? "\r\n" : "\n";
  std::string filler;
  while (main.size() + filler.size() < bytes) {
    filler += random() % 3 ? "{" + eol + "\"classname\"\t\"light\"" + eol + "\"light\" \"300\"" +
                                 eol + "}" + eol
                           : "// a comment between blocks" + eol;
  }
  return random() % 2 ? main + filler : filler + main;
}

std::size_t random_text_size(std::mt19937& random, int index) {
  if (index == 0) return 0;
  if (index == 1) return 1u << 20;
  if (index % 3 == 0) return std::uniform_int_distribution<std::size_t>(20000, 40000)(random);
  return std::uniform_int_distribution<std::size_t>(0, 4000)(random);
}

std::vector<RandomMap> random_maps(std::uint32_t seed, int count) {
  std::mt19937 random(seed);
  std::vector<RandomMap> maps;
  for (int i = 0; i < count; ++i) {
    RandomMap map;
    map.name = "m" + std::to_string(i);
    map.playable = i > 0 && random() % 5 != 0;
    const std::string text = random_entity_text(random, random_text_size(random, i), map.playable);
    const auto layout = tools::kAllMapLayouts[random() % std::size(tools::kAllMapLayouts)];
    const std::size_t body = std::uniform_int_distribution<std::size_t>(0, 5000)(random);
    const std::size_t text_at = random() % 2 ? 0 : 200 + random() % 100000;
    map.bytes = tools::bsp_map(layout, text, text_at + text.size() + body, text_at);
    maps.push_back(std::move(map));
  }
  return maps;
}

class ExactArchive : public testing::ProgramTree {
 protected:
  // An exact run in the base, answered yes, that leaves its report in `report`.
  int run_exact_reporting(RunReport& report) {
    dialog_ = testing::ScriptedDialog({kButtonYes});
    faulty_.set_current_directory(tree_.path("base"));
    return program_entry(faulty_, dialog_, [&](Runtime& rt) {
      build_map_lists(rt, {ScanMode::kExact, &report, nullptr});
    });
  }

  void write_zip(const std::string& folder, const std::vector<RandomMap>& maps, int level,
                 std::mt19937& random) {
    std::vector<ZipMember> members;
    for (const RandomMap& map : maps) {
      ZipMember member;
      member.name = "maps/" + map.name + ".bsp";
      member.data = map.bytes;
      member.deflated = level >= 0;
      member.level = level;
      member.data_descriptor = random() % 2 == 0;
      members.push_back(member);
    }
    testing::ZipOptions options;
    options.zip64 = random() % 2 == 0;
    tree_.write_file("base/" + folder + "/maps.pk3", testing::zip_archive(members, options));
  }
};

TEST_F(ExactArchive, AMapGivesTheSameLineFromEveryArchiveAndLoose) {
  for (const std::uint32_t seed : {1u, 2u}) {
    const std::vector<RandomMap> maps = random_maps(seed, 14);
    std::mt19937 random(seed);
    std::vector<tools::PackFile> pack;
    for (const RandomMap& map : maps) {
      pack.push_back({"maps/" + map.name + ".bsp", map.bytes});
      tree_.write_file("base/loose/maps/" + map.name + ".bsp", map.bytes);
    }
    tree_.write_file("base/pack/pak0.pak", tools::pack_archive(pack));
    write_zip("stored", maps, -1, random);
    for (const int level : {1, 6, 9}) {
      write_zip("deflated" + std::to_string(level), maps, level, random);
    }

    ASSERT_EQ(run_exact(), kExitDone);
    const std::string loose = tree_.read_file("base/loose/maps.lst");
    int playable = 0;
    for (const RandomMap& map : maps) playable += map.playable;
    EXPECT_EQ(std::count(loose.begin(), loose.end(), '\n'), playable) << "seed " << seed;
    for (const char* folder : {"pack", "stored", "deflated1", "deflated6", "deflated9"}) {
      EXPECT_EQ(tree_.read_file("base/" + std::string(folder) + "/maps.lst"), loose)
          << folder << ", seed " << seed;
    }
  }
}

TEST_F(ExactArchive, ADamagedDirectoryKeepsTheOldListAndBadNamesAreNeverWritten) {
  const std::string good = tools::bsp_map(
      tools::MapLayout::kIbsp38,
      tools::entity_text({{{"classname", "worldspawn"}, {"message", "Good"}},
                          {{"classname", "info_player_deathmatch"}}}),
      2000);
  const std::string pack = tools::pack_archive({{"maps/good.bsp", good}});
  ZipMember member;
  member.name = "maps/good.bsp";
  member.data = good;
  member.deflated = true;
  const std::string zip = testing::zip_archive({member});
  std::string long_pack = pack;
  long_pack[11] = '\x80';  // a directory of 2^31 bytes
  const std::string old = "good \"Good\"\r\n";
  const struct {
    const char* folder;
    const char* file;
    std::string bytes;
  } damaged[] = {
      {"pack_cut", "pak0.pak", pack.substr(0, pack.size() - 40)},
      {"pack_long", "pak0.pak", long_pack},
      {"zip_cut", "a.pk3", zip.substr(0, zip.size() - 32) + zip.substr(zip.size() - 22)},
      {"zip_truncated", "a.pk3", zip.substr(0, zip.size() / 2)},
  };
  for (const auto& d : damaged) {
    tree_.write_file("base/" + std::string(d.folder) + "/" + d.file, d.bytes);
    tree_.write_file("base/" + std::string(d.folder) + "/maps.lst", old);
  }
  tree_.write_file("base/names/pak0.pak",
                   tools::pack_archive({{"maps/a\nb.bsp", good}, {"maps/q\"t.bsp", good},
                                        {"maps/c\rr.bsp", good}, {"maps/x\x1A.bsp", good}}));
  tree_.write_file("base/names/maps/l\x7Fo.bsp", good);
  tree_.write_file("base/names/maps.lst", old);

  RunReport report;
  EXPECT_EQ(run_exact_reporting(report), kExitDone);
  for (const auto& d : damaged) {
    EXPECT_EQ(tree_.read_file("base/" + std::string(d.folder) + "/maps.lst"), old) << d.folder;
  }
  // Every name there was refused: the folder's list holds nothing.
  EXPECT_EQ(tree_.read_file("base/names/maps.lst"), "");
  EXPECT_EQ(report.lists_kept, 4);
  std::vector<std::string> passed;
  for (const PassedOver& p : report.passed_over) passed.push_back(p.path + ": " + p.reason);
  EXPECT_EQ(passed, (std::vector<std::string>{
                        "names/pak0.pak: maps/a?b.bsp: a name no list line can hold: not listed",
                        "names/pak0.pak: maps/q\"t.bsp: a name no list line can hold: not listed",
                        "names/pak0.pak: maps/c?r.bsp: a name no list line can hold: not listed",
                        "names/pak0.pak: maps/x?.bsp: a name no list line can hold: not listed",
                        "names/maps/l?o.bsp: a name no list line can hold: not listed",
                        "pack_cut/pak0.pak: damaged archive directory",
                        "pack_long/pak0.pak: damaged archive directory",
                        "zip_cut/a.pk3: damaged archive directory",
                        "zip_truncated/a.pk3: damaged archive directory"}));
}

// A small archive is read whole at once, a large one window by window: either way, a read
// that comes short of the length the archive had when it was opened keeps the old list and
// says why, once.
TEST_F(ExactArchive, AnArchiveCutShortWhileItIsReadKeepsTheOldListAndSaysSo) {
  const std::string map = tools::bsp_map(
      tools::MapLayout::kIbsp38,
      tools::entity_text({{{"classname", "worldspawn"}, {"message", "Cut"}},
                          {{"classname", "info_player_deathmatch"}}}),
      2000);
  const std::string old = "old \"Old\"\r\n";
  for (const std::size_t padding : {std::size_t{0}, std::size_t{200000}}) {
    tree_.write_file("base/g/pak0.pak", tools::pack_archive({{"maps/cut.bsp", map},
                                                             {"pad", std::string(padding, 'x')}}));
    tree_.write_file("base/g/maps.lst", old);
    faulty_.come_short(testing::OsCall::kReadFileAt, 1, 10);
    RunReport report;
    EXPECT_EQ(run_exact_reporting(report), kExitDone);
    EXPECT_EQ(tree_.read_file("base/g/maps.lst"), old) << padding;
    ASSERT_EQ(report.passed_over.size(), 1u) << padding;
    EXPECT_EQ(report.passed_over[0].path + ": " + report.passed_over[0].reason,
              "g/pak0.pak: changed while it was read");
    faulty_.clear();
  }
}

}  // namespace
}  // namespace mapsweep
