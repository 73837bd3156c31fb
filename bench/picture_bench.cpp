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

// A busier picture than the plans: 3,000 lines between random points of a large map, as
// a detailed map seen from above draws.
void BM_EncodeDense(benchmark::State& state) {
  std::uint32_t seed = 1;
  const auto next = [&](std::uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<float>((seed >> 8) % below);
  };
  formats::MapLines map;
  for (int i = 0; i < 2000; ++i) map.vertices.push_back({next(8000), next(6000), next(1000)});
  for (std::uint32_t i = 0; i < 3000; ++i) {
    map.lines.push_back({static_cast<std::uint32_t>(next(2000)), i % 2000});
  }
  const formats::LayoutPicture picture = *formats::draw_layout(map);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string png = layout_png(picture);
    bytes += png.size();
    benchmark::DoNotOptimize(png.data());
  }
  state.counters["png_bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EncodeDense);

}  // namespace
}  // namespace mapsweep

BENCHMARK_MAIN();
