// The scans of the two modes. The byte search builds its markers once and keeps its state,
// the title taken last included, for the whole run; it writes every line as it finds it and
// keeps its recoveries to itself. The exact scans keep only the current folder's maps, and
// write them once both scans of the folder are done.
#include <variant>

#include "app/byte_search.h"
#include "app/exact_maps.h"
#include "app/scan_context.h"

namespace mapsweep {
namespace {

ByteSearchState& byte_search_state(ScanContext& ctx) {
  return std::get<ByteSearchState>(ctx.mode_state);
}

ExactScanState& exact_scan_state(ScanContext& ctx) {
  return std::get<ExactScanState>(ctx.mode_state);
}

constexpr ModeScans kByteSearchScans = {
    .start =
        [](ScanContext& ctx) {
          build_byte_search_state(ctx.driver.rt.err, ctx.mode_state.emplace<ByteSearchState>());
        },
    .scan_archives = [](ScanContext& ctx) { archive_scan(ctx.driver, byte_search_state(ctx)); },
    .scan_map_files = [](ScanContext& ctx) { map_file_scan(ctx.driver, byte_search_state(ctx)); },
    // Every line is written as it is found.
    .write_found_maps = [](ScanContext&) {},
    .finish =
        [](ScanContext& ctx) {
          release_byte_search_state(ctx.driver.rt.err, byte_search_state(ctx));
        },
    // The combined list keeps its lines as they always were.
    .fold_name_case = false,
};

constexpr ModeScans kExactScans = {
    .start = [](ScanContext& ctx) { ctx.mode_state.emplace<ExactScanState>(); },
    .scan_archives =
        [](ScanContext& ctx) { exact_archive_scan(ctx.driver, exact_scan_state(ctx)); },
    .scan_map_files =
        [](ScanContext& ctx) { exact_map_file_scan(ctx.driver, exact_scan_state(ctx)); },
    .write_found_maps =
        [](ScanContext& ctx) { write_exact_maps(ctx.driver, exact_scan_state(ctx)); },
    .finish = [](ScanContext& ctx) { ctx.mode_state = std::monostate(); },
    // The folders' lists hold each map once already; across folders an exact run may meet
    // one map under two letter cases.
    .fold_name_case = true,
};

}  // namespace

const ModeScans& scans_of(ScanMode mode) {
  return mode == ScanMode::kExact ? kExactScans : kByteSearchScans;
}

}  // namespace mapsweep
