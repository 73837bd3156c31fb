// The list consolidation of a large combined list: read, selection and rewrite of a
// maps.lst of 100,000 and of 1,000,000 map entry lines with repeats and prefix lines among them.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "app/scan_context.h"
#include "runtime/message_box.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;

std::string combined_list(int lines) {
  std::mt19937 random(7);
  std::string bytes;
  for (int i = 0; i < lines; ++i) {
    const int map = static_cast<int>(random() % static_cast<unsigned>(lines / 2));
    bytes += "map" + std::to_string(map);
    if (random() % 4 != 0) bytes += " \"Title of map " + std::to_string(map) + "\"";
    bytes += "\r\n";
  }
  return bytes;
}

void BM_ConsolidateCombinedList(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / "mapsweep-consolidation-bench";
  fs::create_directories(folder);
  const std::string list = combined_list(static_cast<int>(state.range(0)));
  auto os = os::make_native_os();
  os->set_current_directory(folder.string());
  auto dialog = make_unshown_dialog();
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(folder / "maps.lst", std::ios::binary | std::ios::trunc) << list;
    Runtime rt(*os, *dialog);
    DriverState driver(rt);
    build_driver_state(driver);
    rt.err.arm_recovery(kGeneralRecovery);
    state.ResumeTiming();
    list_consolidation(driver);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(list.size()) * state.iterations());
  fs::remove_all(folder);
}
BENCHMARK(BM_ConsolidateCombinedList)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mapsweep

BENCHMARK_MAIN();
