// Writes the fuzz targets' seed corpus: a few real-shaped files per target, made by the
// same writers as the tests, so that the fuzzers start from inputs that get past every
// header check.
//   fuzz_seed_corpus OUT_DIR   -> OUT_DIR/<target>/<seed>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "support/zip_writer.h"
#include "tools/pack_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace mapsweep;

void write_seed(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
}

std::vector<std::string> entity_texts() {
  const tools::EntityPairs world = {{"classname", "worldspawn"},
                                    {"message", "The \xC8\xE1\xEC\xEC\\nof \"Echoes\""},
                                    {"wad", "base.wad"}};
  const tools::EntityPairs start = {{"classname", "info_player_start"}, {"origin", "0 0 24"}};
  const tools::EntityPairs light = {{"classname", "light"}, {"light", "300"}};
  return {
      tools::entity_text({world, light, start}),
      tools::entity_text({start, world}, tools::LineEnd::kCrLf),
      "// comment\n{\n classname worldspawn // another\n message \"}\"\n}\n{}\n",
      "{\"classname\" \"worldspawn\"}{\"classname\" \"info_player_1\" \"key\"",
  };
}

std::string sample_map(tools::MapLayout layout, const std::string& text) {
  return tools::bsp_map(layout, text, text.size() + 400, 200);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_seed_corpus OUT_DIR\n";
    return 2;
  }
  const fs::path out = argv[1];
  const std::vector<std::string> texts = entity_texts();

  for (std::size_t i = 0; i < texts.size(); ++i) {
    write_seed(out / "entity_text", "text" + std::to_string(i), texts[i]);
  }
  int map_index = 0;
  for (const tools::MapLayout layout : tools::kAllMapLayouts) {
    const std::string& text = texts[map_index % texts.size()];
    write_seed(out / "map_file", "map" + std::to_string(map_index++), sample_map(layout, text));
  }

  const std::string map = sample_map(tools::MapLayout::kVersion29, texts[0]);
  write_seed(out / "pack_directory", "maps",
             tools::pack_archive({{"maps/e1m1.bsp", map},
                                  {"MAPS/Start.BSP", "short"},
                                  {"maps/sub/x.bsp", ""},
                                  {"progs/player.mdl", std::string(100, 'p')}}));
  write_seed(out / "pack_directory", "empty", tools::pack_archive({}));

  std::vector<testing::ZipMember> members(3);
  members[0].name = "maps/e1m1.bsp";
  members[0].data = map;
  members[0].deflated = true;
  members[1].name = "maps/start.bsp";
  members[1].data = sample_map(tools::MapLayout::kIbsp38, texts[1]);
  members[2].name = "readme.txt";
  members[2].data = "text";
  members[2].local_name = "README.TXT";
  members[2].local_extra = std::string("\x01\x02\x02\0ab", 6);
  testing::ZipOptions plain;
  write_seed(out / "zip_archive", "plain", testing::zip_archive(members, plain));
  testing::ZipOptions zip64;
  zip64.zip64 = true;
  zip64.comment = "a comment";
  write_seed(out / "zip_archive", "zip64", testing::zip_archive(members, zip64));
  return 0;
}
