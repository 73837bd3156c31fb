// The map entry extraction on the chunks that cost the most (one full of map paths, as in
// an archive directory) and the least (no path at all).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

using namespace std::string_literals;

#include "app/byte_search.h"
#include "app/scan_context.h"
#include "runtime/message_box.h"

namespace mapsweep {
namespace {

std::string chunk_full_of_paths() {
  std::string chunk;
  for (int i = 0; chunk.size() < static_cast<std::size_t>(kChunkSize); ++i) {
    chunk += "maps/e" + std::to_string(i % 9) + "m" + std::to_string(i % 97) + ".bsp";
    chunk += '\0';
  }
  chunk.resize(kChunkSize);
  return chunk;
}

std::string chunk_without_paths() {
  std::string chunk;
  while (chunk.size() < static_cast<std::size_t>(kChunkSize)) chunk += "textures/wall.wal\0"s;
  chunk.resize(kChunkSize);
  return chunk;
}

void run_extraction(benchmark::State& state, const std::string& chunk) {
  const std::unique_ptr<os::Os> os = os::make_native_os();
  const std::unique_ptr<os::Dialog> dialog = make_unshown_dialog();
  Runtime rt(*os, *dialog);
  ByteSearchState search;
  build_byte_search_state(rt.err, search);
  search.chunk = chunk;
  std::int64_t names = 0;
  for (auto _ : state) {
    search.name_count = 0;
    release_list(search.archive_names);
    map_entry_extraction(rt.err, search);
    names += search.name_count;
  }
  state.SetBytesProcessed(state.iterations() * kChunkSize);
  state.counters["names/chunk"] =
      benchmark::Counter(static_cast<double>(names) / static_cast<double>(state.iterations()));
}

void BM_ExtractionChunkFullOfPaths(benchmark::State& state) {
  run_extraction(state, chunk_full_of_paths());
}
void BM_ExtractionChunkWithoutPaths(benchmark::State& state) {
  run_extraction(state, chunk_without_paths());
}

BENCHMARK(BM_ExtractionChunkFullOfPaths);
BENCHMARK(BM_ExtractionChunkWithoutPaths);

}  // namespace
}  // namespace mapsweep

BENCHMARK_MAIN();
