// Writes the fuzz targets' seed corpus: a few real-shaped files per target, made by the
// same writers as the tests, so that the fuzzers start from inputs that get past every
// header check, and some that reach what only larger files reach: a PACK directory of more
// than one piece, a deflated map whose entity text takes many pieces of compressed data.
//   fuzz_seed_corpus OUT_DIR   -> OUT_DIR/<target>/<seed>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/zip_writer.h"
#include "tools/map_archive_writer.h"

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

// Entity text of about `size` bytes with CR LF line ends, as large real maps have.
std::string large_entity_text(std::size_t size) {
  const tools::EntityPairs world = {{"classname", "worldspawn"}, {"message", "Deep\tWaters"}};
  const tools::EntityPairs start = {{"classname", "info_player_start"}, {"origin", "0 0 24"}};
  std::vector<tools::EntityPairs> blocks = {world};
  // Coordinates from a small congruential generator, so that the text deflates about as
  // poorly as a real one and takes several pieces of compressed data.
  std::uint32_t state = 12345;
  const auto coordinate = [&state] {
    state = state * 1103515245u + 12345u;
    return std::to_string(static_cast<int>(state >> 16) % 4096 - 2048);
  };
  while (blocks.size() * 60 < size) {
    const std::string origin = coordinate() + " " + coordinate() + " " + coordinate();
    blocks.push_back({{"classname", "light"}, {"origin", origin}});
  }
  blocks.push_back(start);
  return tools::entity_text(blocks, tools::LineEnd::kCrLf);
}

std::string sample_map(tools::MapLayout layout, const std::string& text) {
  return tools::bsp_map(layout, text, text.size() + 400, 200);
}

void write_pack_seeds(const fs::path& out, const std::string& map) {
  write_seed(out, "maps",
             tools::pack_archive({{"maps/e1m1.bsp", map},
                                  {"MAPS/Start.BSP", "short"},
                                  {"maps/sub/x.bsp", ""},
                                  {"progs/player.mdl", std::string(100, 'p')}}));
  write_seed(out, "empty", tools::pack_archive({}));
  // More entries than one piece of the directory holds, the map among the last.
  std::vector<tools::PackFile> files;
  for (int i = 0; i < 1030; ++i) files.push_back({"s/" + std::to_string(i), ""});
  files.push_back({"maps/late.bsp", map});
  write_seed(out, "pieces", tools::pack_archive(files));
}

void write_zip_seeds(const fs::path& out, const std::vector<std::string>& texts,
                     const std::string& map) {
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
  write_seed(out, "plain", testing::zip_archive(members));
  testing::ZipOptions zip64;
  zip64.zip64 = true;
  zip64.comment = "a comment";
  write_seed(out, "zip64", testing::zip_archive(members, zip64));

  // A map whose entity text inflates from many pieces of compressed data.
  testing::ZipMember large;
  large.name = "maps/deep.bsp";
  large.data = tools::bsp_map(tools::MapLayout::kIbsp46, large_entity_text(60000), 70000, 3000);
  large.deflated = true;
  large.level = 9;
  large.data_descriptor = true;
  write_seed(out, "large", testing::zip_archive({large}));
}

// Maps of every family with geometry: the room, and for the surface families also patches,
// planar triangles and a flare, so that every kind of surface is there to mutate.
void write_geometry_seeds(const fs::path& out) {
  int index = 0;
  for (const tools::MapLayout layout : tools::kAllMapLayouts) {
    const std::string name = "room" + std::to_string(index++);
    write_seed(out, name, tools::geometry_map(layout, tools::room_geometry(layout), "{}"));
    if (tools::layout_keeps_edges(layout)) continue;
    tools::MapGeometry geometry = tools::room_geometry(layout);
    geometry.surfaces.push_back({.type = 2, .num_verts = 9, .patch_width = 3, .patch_height = 3});
    geometry.surfaces.push_back({.type = 1, .first_vert = 4, .num_verts = 4, .num_indexes = 3});
    geometry.surfaces.push_back({.type = 4, .first_vert = 1, .num_verts = 1});
    write_seed(out, "surfaces" + std::to_string(index),
               tools::geometry_map(layout, geometry, "{}"));
  }
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
    // The structure-aware targets read any bytes as choices; text makes varied ones.
    write_seed(out / "archived_map", "text" + std::to_string(i), texts[i]);
    // Deflate data, and plain text for the target to deflate, with choices at the end.
    const std::string choices("\x02\x00\x10\x00\x03\x00\x40\x00\x01\x80\x00\x01\x00\x00", 14);
    write_seed(out / "bounded_inflate", "data" + std::to_string(i),
               testing::raw_deflate(texts[i], static_cast<int>(i * 3)) + choices);
    write_seed(out / "bounded_inflate", "text" + std::to_string(i), texts[i] + choices);
  }
  int map_index = 0;
  for (const tools::MapLayout layout : tools::kAllMapLayouts) {
    const std::string& text = texts[map_index % texts.size()];
    write_seed(out / "map_file", "map" + std::to_string(map_index++), sample_map(layout, text));
  }

  const std::string map = sample_map(tools::MapLayout::kVersion29, texts[0]);
  write_pack_seeds(out / "pack_directory", map);
  write_zip_seeds(out / "zip_archive", texts, map);
  write_geometry_seeds(out / "map_geometry");
  return 0;
}
