// Writes one base folder per hostile or damaged archive, each with one game folder holding
// the archive and an old list, for bench/hostile.sh to time `mapsweep --exact` on:
//   make_hostile_trees OUT_DIR   -> OUT_DIR/<case>/game/{archive, maps.lst}
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "support/hostile_archives.h"
#include "support/zip_writer.h"
#include "tools/map_archive_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace mapsweep;

void write_file(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

struct Case {
  std::string name;
  std::string archive_name;
  std::string bytes;
};

std::vector<Case> cases() {
  const std::string lump60 = testing::map_with_text("Sixty", 60u << 20);
  const std::string lump8 = testing::map_with_text("Eight", 8u << 20);
  const std::string good = testing::map_with_text("Good", 100);
  const std::string pack = tools::pack_archive({{"maps/good.bsp", good}});
  testing::ZipMember member;
  member.name = "maps/good.bsp";
  member.data = good;
  member.deflated = true;
  const std::string zip = testing::zip_archive({member});
  std::string long_pack = pack;
  long_pack[11] = '\x80';
  return {
      {"zip_50_share_60mb", "a.pk3", testing::zip_sharing_one_map(lump60, 50, 0)},
      {"zip_2000_share_60mb", "a.pk3", testing::zip_sharing_one_map(lump60, 2000, 0)},
      {"zip_2000_overlap_60mb", "a.pk3", testing::zip_sharing_one_map(lump60, 2000, 1)},
      {"pack_3000_share_8mb", "pak0.pak", testing::pack_sharing_one_map(lump8, 3000, 0)},
      {"pack_3000_overlap_8mb", "pak0.pak", testing::pack_sharing_one_map(lump8, 3000, 64)},
      {"zip_60_expanding_20mb", "a.pk3", testing::expanding_zip(60, 20u << 20)},
      {"pack_directory_cut", "pak0.pak", pack.substr(0, pack.size() - 40)},
      {"pack_directory_2g", "pak0.pak", long_pack},
      {"zip_directory_cut", "a.pk3", zip.substr(0, zip.size() - 32) + zip.substr(zip.size() - 22)},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_hostile_trees OUT_DIR\n";
    return 2;
  }
  for (const Case& c : cases()) {
    const fs::path game = fs::path(argv[1]) / c.name / "game";
    write_file(game / c.archive_name, c.bytes);
    write_file(game / "maps.lst", "good \"Good\"\r\n");
    std::cout << c.name << ' ' << c.bytes.size() << '\n';
  }
  return 0;
}
