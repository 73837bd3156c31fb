// Builds synthetic game installations for trying mapsweep out and for comparing builds:
// game folders with PACK archives of map data, loose map files and folders with nothing
// to find. Every byte comes from this generator; nothing is copied from a real game.
//
//   make_sample_tree DIR [SCENARIO]   creates the scenario's tree in DIR (default: sample)
//   make_sample_tree --list           prints the scenario names
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tools/map_archive_writer.h"

namespace fs = std::filesystem;
using namespace mapsweep::tools;

namespace {

// Map data in which the world entity lies 100 bytes in; 40000 bytes keep the entities of
// consecutive maps of an archive in different 32000-byte chunks.
constexpr std::size_t kMapSize = 40000;

std::string map_with(const WorldEntity& entity) {
  return map_data(kMapSize, 100, world_entity_text(entity));
}

std::string titled_map(const std::string& title) {
  return map_with({title, {}, LineEnd::kLf});
}

void write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string archive_of(const std::vector<std::pair<std::string, std::string>>& maps) {
  std::vector<PackFile> files;
  for (const auto& [name, title] : maps)
    files.push_back({"maps/" + name + ".bsp", titled_map(title)});
  files.push_back({"progs.dat", std::string(2000, '\x01')});
  return pack_archive(files);
}

void sample(const fs::path& base) {
  write(base / "basegame" / "pak0.pak",
        archive_of({{"start", "Gate House"}, {"e1m1", "Lost Castle"}, {"e1m2", "Red Keep"}}));
  write(base / "basegame" / "pak1.pak", archive_of({{"e2m1", "Sunken Vault"}}));
  write(base / "arena" / "pak0.pak", archive_of({{"dm3", "Stone Pit"}}));
  write(base / "arena" / "Maps" / "DM1.BSP", titled_map("Iron Arena"));
  write(base / "arena" / "Maps" / "dm2.bsp", std::string(5000, 'x'));  // no entity text
  write(base / "docs" / "readme.txt", "Nothing to find here.\r\n");
}

void next_map(const fs::path& base) {
  std::vector<PackFile> files = {
      {"maps/e3m1.bsp", map_with({"Tower Gate", {}, LineEnd::kLf})},
      {"maps/e3m2.bsp", map_with({"Long Stair", std::string("e3m3"), LineEnd::kLf})},
      {"maps/e3m3.bsp", map_with({"High Hall", {}, LineEnd::kLf})},
  };
  write(base / "episode3" / "pak0.pak", pack_archive(files));
}

void odd_names(const fs::path& base) {
  write(base / "engine", std::string(3000, '\x7F'));  // an engine binary without extension
  write(base / "a,b" / "pak0.pak", archive_of({{"comma", "Never Read"}}));
  write(base / "v1.5" / "pak0.pak", archive_of({{"dotted", "Never Read"}}));
  write(base / "Mod" / "PAK0.PAK", archive_of({{"m1", "Upper Case Archive"}}));
  write(base / "Mod" / "pak1.pak", archive_of({{"m2", "Lower Case Archive"}}));
  write(base / "Mod" / "MAPS" / "DM3.BSP", titled_map("Capital Folder"));
  write(base / "Mod" / "MAPS" / "Ctf.Start.bsp", titled_map("Two Dots"));
  write(base / "Mod" / "MAPS" / "e1m1.bsp2", titled_map("Not A Map File"));
}

void titles(const fs::path& base) {
  // Title marker 200 bytes after the world marker: the title taken last is carried over.
  std::string far = map_data(kMapSize, 100, "{\n\"classname\" \"worldspawn\"\n");
  put_bytes(far, 300, "\"message\" \"Too Far Away\"\n}\n");
  std::vector<PackFile> files = {
      {"maps/near.bsp", titled_map("Close Enough")},
      {"maps/far.bsp", far},
      {"maps/crlf.bsp", map_with({"Windows Line Ends", {}, LineEnd::kCrLf})},
      {"maps/long.bsp", titled_map("A Title Much Longer Than Forty Bytes In All")},
  };
  write(base / "titles" / "pak0.pak", pack_archive(files));
  write(base / "titles" / "maps" / "empty.bsp", titled_map(""));
  write(base / "titles" / "maps" / "zero.bsp", "");
}

void shared_maps(const fs::path& base) {
  // The same map in two game folders: the combined list holds its line once.
  write(base / "first" / "pak0.pak", archive_of({{"same", "Shared Map"}, {"one", "Only First"}}));
  write(base / "second" / "pak0.pak", archive_of({{"same", "Shared Map"}}));
  write(base / "second" / "maps" / "readme.txt", "no map files here\r\n");
  write(base / "third" / "maps" / "same.bsp", titled_map("Shared Map"));
}

// Maps as map tools write them, for the exact mode: a header and lump table, entity text
// with CR LF line ends, a world and a player start; archives whose directory is at the end.
std::string real_map(MapLayout layout, const std::string& title, bool player_start = true) {
  std::vector<EntityPairs> blocks = {{{"classname", "worldspawn"}, {"message", title}}};
  if (player_start) blocks.push_back({{"classname", "info_player_start"}, {"origin", "0 0 24"}});
  return bsp_map(layout, entity_text(blocks, LineEnd::kCrLf), 50000);
}

void exact(const fs::path& base) {
  write(base / "episode" / "pak0.pak",
        pack_archive({{"maps/e1m1.bsp", real_map(MapLayout::kVersion29, "Gate House")},
                      {"maps/e1m2.bsp", real_map(MapLayout::kVersion29, "Red Keep")},
                      {"maps/e1m10.bsp", real_map(MapLayout::kVersion29, "Tenth Hall")},
                      {"maps/b_box.bsp", real_map(MapLayout::kVersion29, "Box", false)},
                      {"maps/debris/rock.bsp", real_map(MapLayout::kVersion29, "Rock")},
                      {"progs.dat", std::string(2000, '\x01')}}));
  write(base / "episode" / "pak1.pak",
        pack_archive({{"MAPS/E1M2.BSP", real_map(MapLayout::kVersion29, "Red Keep, Rebuilt")}}));
  write(base / "episode" / "maps" / "e1m3.bsp", real_map(MapLayout::kBsp2, "Deep\\nVault"));
  write(base / "arena" / "pak0.pak",
        pack_archive({{"maps/dm1.bsp", real_map(MapLayout::kIbsp38,
                                                "\xC9ron \xA2"
                                                "Arena\xA2")},
                      {"maps/dm2.bsp", real_map(MapLayout::kIbsp46, "")}}));
}

std::string catalog_map(MapLayout layout, unsigned seed, std::vector<EntityPairs> blocks) {
  return geometry_map(layout, plan_geometry(layout, seed), entity_text(blocks, LineEnd::kCrLf));
}

EntityPairs world(const std::string& message) {
  return {{"classname", "worldspawn"}, {"message", message}};
}

EntityPairs spawn(const std::string& classname) {
  return {{"classname", classname}, {"origin", "0 0 24"}};
}

// Maps for the catalogue: every family with geometry to draw, every way to play, monsters
// and secrets, a copy that hides another, a title that is markup and one in Latin-1, and a
// map with nothing to draw.
void catalog(const fs::path& base) {
  const EntityPairs start = spawn("info_player_start");
  const EntityPairs coop = spawn("info_player_coop");
  const EntityPairs deathmatch = spawn("info_player_deathmatch");
  const EntityPairs monster = spawn("monster_knight");
  const EntityPairs secret = {{"classname", "trigger_secret"}};
  write(base / "id1" / "pak0.pak",
        pack_archive(
            {{"maps/e1m1.bsp",
              catalog_map(MapLayout::kVersion29, 1,
                          {world("The Gate House"),
                           start,
                           coop,
                           deathmatch,
                           monster,
                           monster,
                           secret,
                           {{"classname", "trigger_changelevel"}, {"map", "e1m2"}}})},
             {"maps/e1m2.bsp",
              catalog_map(MapLayout::kVersion29, 2, {world("Red Keep"), start, coop, monster})},
             {"maps/dm3.bsp", catalog_map(MapLayout::kBsp2, 3, {world("The Pit"), deathmatch})}}));
  write(base / "id1" / "pak1.pak",
        pack_archive({{"maps/e1m2.bsp", catalog_map(MapLayout::kBsp2, 4,
                                                    {world("Red Keep, Rebuilt"), start, coop,
                                                     monster, monster, monster, secret})}}));
  write(base / "valley" / "pak0.pak",
        pack_archive({{"maps/base1.bsp",
                       catalog_map(MapLayout::kIbsp38, 5,
                                   {world("Outer Base"), start, coop, deathmatch, monster})},
                      {"maps/q2dm1.bsp",
                       catalog_map(MapLayout::kIbsp38, 6, {world("The Edge"), deathmatch})}}));
  write(base / "arena" / "maps" / "q3dm7.bsp",
        catalog_map(MapLayout::kIbsp46, 7, {world("Temple of Retribution"), deathmatch}));
  write(base / "arena" / "maps" / "q3ctf1.bsp",
        catalog_map(MapLayout::kIbsp47, 8,
                    {world("Dueling Keeps"), deathmatch, spawn("team_CTF_redspawn"),
                     spawn("team_CTF_bluespawn")}));
  write(base / "arena" / "maps" / "mp_ruins.bsp",
        catalog_map(MapLayout::kRbsp1, 9,
                    {world("\xC9glise en ruine"), deathmatch, spawn("info_player_team1")}));
  write(
      base / "arena" / "maps" / "wdm2.bsp",
      catalog_map(MapLayout::kFbsp1, 10, {world("<b>Bold</b> & <script>x</script>"), deathmatch}));
  write(base / "arena" / "maps" / "flat.bsp",
        bsp_map(MapLayout::kVersion30, entity_text({world("No Walls"), start}), 3000));
}

// What a killed run leaves: its folder list and a list's new file half-written. Beside
// them, files of the user's under the folder list's names, which must stay as they are.
void leftovers(const fs::path& base) {
  write(base / "basegame" / "pak0.pak", archive_of({{"e1m1", "Lost Castle"}}));
  write(base / "basegame" / "maps.lst.mapsweep-a1B2c3", "e1m1 \"Lost");
  write(base / "temp.tmp", "mapsweep folder list\r\n\"basegame\"\r\n\"gone\"\r\n");
  write(base / "temp1.tmp", "mapsweep folder list\r\nmy notes\r\n");
  write(base / "temp2.tmp", "");
}

void empty_base(const fs::path& base) {
  fs::create_directories(base);
}

const std::map<std::string, std::function<void(const fs::path&)>>& scenarios() {
  static const std::map<std::string, std::function<void(const fs::path&)>> all = {
      {"sample", sample}, {"next-map", next_map},       {"odd-names", odd_names},
      {"titles", titles}, {"shared-maps", shared_maps}, {"empty", empty_base},
      {"exact", exact},   {"leftovers", leftovers},     {"catalog", catalog},
  };
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--list") {
    for (const auto& [name, build] : scenarios()) std::cout << name << "\n";
    return 0;
  }
  if (args.empty() || args.size() > 2 || args[0].empty() || args[0][0] == '-') {
    std::cerr << "usage: make_sample_tree DIR [SCENARIO] | --list\n";
    return 2;
  }
  const std::string name = args.size() == 2 ? args[1] : "sample";
  const auto scenario = scenarios().find(name);
  if (scenario == scenarios().end()) {
    std::cerr << "make_sample_tree: unknown scenario '" << name << "' (see --list)\n";
    return 2;
  }
  const fs::path base(args[0]);
  std::error_code ec;
  if (fs::exists(base, ec) && !fs::is_empty(base, ec)) {
    std::cerr << "make_sample_tree: " << base.string() << " exists and is not empty\n";
    return 2;
  }
  try {
    fs::create_directories(base);
    scenario->second(base);
  } catch (const std::exception& e) {
    std::cerr << "make_sample_tree: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
