// What a catalogue spends on each map's picture beside reading the map: drawing its floor
// plan and encoding the PNG, on the plans the many-folders installation carries.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/layout_png.h"
#include "formats/byte_source.h"
#include "formats/layout_picture.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

constexpr std::uint32_t kPlans = 64;

const std::vector<std::string>& plan_maps() {
  static const std::vector<std::string> maps = [] {
    std::vector<std::string> made;
    for (std::uint32_t seed = 1; seed <= kPlans; ++seed) {
      made.push_back(tools::geometry_map(tools::MapLayout::kVersion29,
                                         tools::plan_geometry(tools::MapLayout::kVersion29, seed)));
    }
    return made;
  }();
  return maps;
}

const std::vector<formats::LayoutPicture>& plan_pictures() {
  static const std::vector<formats::LayoutPicture> pictures = [] {
    std::vector<formats::LayoutPicture> drawn;
    for (const std::string& map : plan_maps()) {
      formats::MemorySource source(map);
      drawn.push_back(*formats::draw_map_layout(source));
    }
    return drawn;
  }();
  return pictures;
}

void BM_DrawPlan(benchmark::State& state) {
  const auto& maps = plan_maps();
  std::size_t next = 0;
  for (auto _ : state) {
    formats::MemorySource source(maps[next++ % maps.size()]);
    benchmark::DoNotOptimize(formats::draw_map_layout(source));
  }
}
BENCHMARK(BM_DrawPlan);

void BM_EncodePlan(benchmark::State& state) {
  const auto& pictures = plan_pictures();
  std::size_t next = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string png = layout_png(pictures[next++ % pictures.size()]);
    bytes += png.size();
    benchmark::DoNotOptimize(png.data());
  }
  state.counters["png_bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EncodePlan);

}  // namespace
}  // namespace mapsweep

BENCHMARK_MAIN();
