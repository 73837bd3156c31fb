// Writes the installation bench/folders.sh times mapsweep on: many small game folders, so
// that the cost of a run is what it spends per folder (finding it, listing it, opening its
// few files, writing its list) rather than the bytes it reads.
//
//   DIR/many/modNNNNN   10,000 game folders, each with pak0.pak holding 3 maps and one loose
//                       map file in maps/: 40,000 maps of about 4.8 KB, about 196 MB in all.
//
// Every map is shaped as a map tool writes it (a version 29 header and lump table, the
// entity text in the first lump, binary lump data after it), with a world entity carrying
// a "message" title and a player start, in LF line ends. Exact mode lists all four maps of
// a folder; the byte search lists two, the archive's first map and the loose one, as it
// takes one title per 32000-byte chunk and leaves out names without a title. Sizes and
// lump data come from a fixed seed, so every machine gets the same tree.
//
// With --geometry every map carries a floor plan (vertices and edges) where the others
// carry random bytes, so that the catalogue has a picture to draw for each; such maps are
// smaller, 1.4 to 2.7 KB, about 93 MB in all.
//
//   make_many_folders DIR [--quick] [--geometry]    --quick: 200 game folders, for CI
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/map_archive_writer.h"

namespace fs = std::filesystem;
using namespace mapsweep::tools;

namespace {

constexpr int kFolders = 10000;
constexpr int kQuickFolders = 200;
constexpr int kMapsInArchive = 3;
// Map sizes are spread evenly over [kSmallestMap, kSmallestMap + kMapSizeSpread).
constexpr std::size_t kSmallestMap = 4096;
constexpr std::size_t kMapSizeSpread = 1507;

// xorshift64 from a fixed seed.
class Random {
 public:
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::string bytes(std::size_t count) {
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; i += 8) {
      const std::uint64_t word = next();
      for (std::size_t b = 0; b < 8 && i + b < count; ++b) {
        out[i + b] = static_cast<char>((word >> (8 * b)) & 0xFF);
      }
    }
    return out;
  }

 private:
  std::uint64_t state_ = 0x2545F4914F6CDD1Du;
};

std::string zero_padded(int value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// A playable map: world entity with its title and a player start, then random lump data
// where a real map keeps its geometry. The random bytes come after the entity text's NUL,
// outside the text lump, so they are never read as text by either mode.
std::string playable_map(Random& random, const std::string& title, bool geometry) {
  const std::string text =
      entity_text({{{"classname", "worldspawn"}, {"message", title}},
                   {{"classname", "info_player_start"}, {"origin", "0 0 24"}}});
  if (geometry) {
    const auto seed = static_cast<std::uint32_t>(random.next());
    return geometry_map(MapLayout::kVersion29, plan_geometry(MapLayout::kVersion29, seed), text);
  }
  const std::size_t size = kSmallestMap + random.next() % kMapSizeSpread;
  std::string map = bsp_map(MapLayout::kVersion29, text, size);
  const std::size_t text_end = map.find(text) + text.size() + 1;
  put_bytes(map, text_end, random.bytes(map.size() - text_end));
  return map;
}

void write(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

// Map names of at most 12 bytes, so the byte search lists them whole: g<folder>m<n>.
std::string map_name(int folder, int map) {
  return std::string("g").append(std::to_string(folder)).append("m").append(std::to_string(map));
}

std::string map_title(int folder, int map) {
  return std::string("Hall ")
      .append(std::to_string(map))
      .append(" of Mod ")
      .append(std::to_string(folder));
}

// Writes one game folder; returns the bytes written.
std::size_t game_folder(const fs::path& folder, int index, Random& random, bool geometry) {
  fs::create_directories(folder / "maps");
  std::vector<PackFile> files;
  for (int m = 0; m < kMapsInArchive; ++m) {
    files.push_back({"maps/" + map_name(index, m) + ".bsp",
                     playable_map(random, map_title(index, m), geometry)});
  }
  const std::string archive = pack_archive(files);
  write(folder / "pak0.pak", archive);
  const std::string loose = playable_map(random, map_title(index, kMapsInArchive), geometry);
  write(folder / "maps" / (map_name(index, kMapsInArchive) + ".bsp"), loose);
  return archive.size() + loose.size();
}

std::size_t installation(const fs::path& base, int folders, bool geometry) {
  Random random;
  std::size_t bytes = 0;
  for (int f = 0; f < folders; ++f) {
    bytes += game_folder(base / std::string("mod").append(zero_padded(f, 5)), f, random, geometry);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  bool quick = false;
  bool geometry = false;
  bool usable = !args.empty() && !args[0].starts_with("-");
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--quick") {
      quick = true;
    } else if (args[i] == "--geometry") {
      geometry = true;
    } else {
      usable = false;
    }
  }
  if (!usable) {
    std::cerr << "usage: make_many_folders DIR [--quick] [--geometry]\n";
    return 2;
  }
  try {
    const fs::path base = fs::path(args[0]) / "many";
    const int folders = quick ? kQuickFolders : kFolders;
    fs::remove_all(base);
    const std::size_t bytes = installation(base, folders, geometry);
    std::cout << folders << " game folders, " << folders * (kMapsInArchive + 1) << " maps, "
              << bytes << " bytes in " << base.string() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "make_many_folders: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
