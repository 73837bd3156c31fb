// Writes the two trees the floor benchmark (floor.sh) times mapsweep against `cat` on:
//
//   DIR/install  8 game folders, each with two PACK archives of 14 maps of 1 MiB and 4 loose
//                map files of 1 MiB: 256 MiB of incompressible data (random bytes around
//                each map's entity text), so the scan's cost is the cost of reading bytes.
//   DIR/folder   one game folder whose maps folder holds 50,000 tiny map files, so the cost
//                is the system calls per file.
//
//   make_floor_trees DIR [--quick]    --quick: 1 game folder and 2,000 map files, for CI
#include <algorithm>
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

constexpr std::size_t kMapSize = std::size_t{1} << 20;
constexpr std::size_t kEntityOffset = 5000;

// Random bytes from a fixed seed: the same trees on every machine.
class Filler {
 public:
  std::string bytes(std::size_t count) {
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; i += 8) {
      state_ ^= state_ << 13;
      state_ ^= state_ >> 7;
      state_ ^= state_ << 17;
      for (std::size_t b = 0; b < 8 && i + b < count; ++b) {
        out[i + b] = static_cast<char>((state_ >> (8 * b)) & 0xFF);
      }
    }
    return out;
  }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15u;
};

std::string random_map(Filler& filler, const std::string& title) {
  std::string data = filler.bytes(kMapSize);
  put_bytes(data, kEntityOffset, world_entity_text({title, {}, LineEnd::kLf}));
  return data;
}

void write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

void installation(const fs::path& base, int folders) {
  Filler filler;
  for (int f = 0; f < folders; ++f) {
    const fs::path folder = base / std::string("mod").append(std::to_string(f));
    for (int a = 0; a < 2; ++a) {
      std::vector<PackFile> files;
      for (int m = 0; m < 14; ++m) {
        const std::string name = std::string("m")
                                     .append(std::to_string(f))
                                     .append("x")
                                     .append(std::to_string(a * 14 + m));
        files.push_back(
            {"maps/" + name + ".bsp", random_map(filler, std::string("Map ").append(name))});
      }
      write(folder / std::string("pak").append(std::to_string(a)).append(".pak"),
            pack_archive(files));
    }
    for (int m = 0; m < 4; ++m) {
      write(folder / "maps" / std::string("loose").append(std::to_string(m)).append(".bsp"),
            random_map(filler, std::string("Loose ").append(std::to_string(m))));
    }
  }
}

void many_map_files(const fs::path& base, int count) {
  const fs::path maps = base / "game" / "maps";
  fs::create_directories(maps);
  for (int i = 0; i < count; ++i) {
    const std::string digits = std::to_string(i);
    const std::string name = std::string(5 - std::min<std::size_t>(5, digits.size()), '0') + digits;
    write(maps / std::string("m").append(name).append(".bsp"),
          map_data(300, 20,
                   world_entity_text({std::string("Tiny ").append(name), {}, LineEnd::kLf})));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool quick = args.size() == 2 && args[1] == "--quick";
  if (args.empty() || args.size() > 2 || (args.size() == 2 && !quick)) {
    std::cerr << "usage: make_floor_trees DIR [--quick]\n";
    return 2;
  }
  try {
    const fs::path dir(args[0]);
    fs::remove_all(dir / "install");
    fs::remove_all(dir / "folder");
    installation(dir / "install", quick ? 1 : 8);
    many_map_files(dir / "folder", quick ? 2000 : 50000);
  } catch (const std::exception& e) {
    std::cerr << "make_floor_trees: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
