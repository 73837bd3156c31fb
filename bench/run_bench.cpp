// A whole run over a generated installation: game folders of PACK archives full of map
// data and loose map files. Reports bytes of game data read per second, which is what
// decides whether a collection of gigabytes takes seconds.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/scan_context.h"
#include "runtime/message_box.h"
#include "runtime/program_entry.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;

class YesDialog final : public os::Dialog {
 public:
  int show(const std::string&, const std::string&, std::uint32_t style) override {
    return style == kStyleYesNo ? kButtonYes : kButtonOk;
  }
};

void write_file(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// `folders` game folders, each with two archives of `maps_per_archive` maps of 1 MB and
// ten loose map files; returns the bytes of game data written.
std::int64_t build_installation(const fs::path& base, int folders, int maps_per_archive) {
  std::int64_t bytes = 0;
  const std::size_t map_size = 1 << 20;
  for (int f = 0; f < folders; ++f) {
    const fs::path folder = base / ("mod" + std::to_string(f));
    for (int a = 0; a < 2; ++a) {
      std::vector<tools::PackFile> files;
      for (int m = 0; m < maps_per_archive; ++m) {
        const std::string title =
            "Map " + std::to_string(f) + "-" + std::to_string(a) + "-" + std::to_string(m);
        files.push_back(
            {"maps/m" + std::to_string(a) + "x" + std::to_string(m) + ".bsp",
             tools::map_data(map_size, 5000,
                             tools::world_entity_text({title, {}, tools::LineEnd::kLf}))});
      }
      const std::string archive = tools::pack_archive(files);
      write_file(folder / ("pak" + std::to_string(a) + ".pak"), archive);
      bytes += static_cast<std::int64_t>(archive.size());
    }
    for (int m = 0; m < 10; ++m) {
      const std::string data = tools::map_data(
          map_size, 5000, tools::world_entity_text({"Loose", {}, tools::LineEnd::kLf}));
      write_file(folder / "maps" / ("loose" + std::to_string(m) + ".bsp"), data);
      bytes += static_cast<std::int64_t>(data.size());
    }
  }
  return bytes;
}

void BM_WholeRun(benchmark::State& state) {
  const fs::path base = fs::temp_directory_path() / "mapsweep-run-bench";
  fs::remove_all(base);
  const std::int64_t bytes =
      build_installation(base, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  YesDialog dialog;
  for (auto _ : state) {
    auto os = os::make_native_os();
    os->set_current_directory(base.string());
    program_entry(*os, dialog, &WINMAIN);
  }
  state.SetBytesProcessed(bytes * state.iterations());
  state.counters["game_MB"] = static_cast<double>(bytes) / (1 << 20);
  fs::remove_all(base);
}
// 8 folders x (2 archives x 24 maps + 10 loose) of 1 MB: about 464 MB of game data.
BENCHMARK(BM_WholeRun)->Args({8, 24})->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace mapsweep

BENCHMARK_MAIN();
