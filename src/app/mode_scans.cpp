// The scans of the two modes. The byte search builds its markers once and keeps its state,
// the title taken last included, for the whole run; it writes every line as it finds it and
// keeps its recoveries to itself. The exact scans keep only the current folder's maps, and
// write them once both scans of the folder are done.
#include <memory>
#include <variant>

#include "app/byte_search.h"
#include "app/catalog.h"
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
    .complete = [](ScanContext&) {},
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
    .complete = [](ScanContext&) {},
    .finish = [](ScanContext& ctx) { ctx.mode_state = std::monostate(); },
    // The folders' lists hold each map once already; across folders an exact run may meet
    // one map under two letter cases.
    .fold_name_case = true,
};

// The exact scans, each copy they read also kept for the catalogue. A run that does not
// visit every folder leaves the old catalogue as it was; the folder built so far goes with
// the state.
constexpr ModeScans kCatalogScans = {
    .start =
        [](ScanContext& ctx) {
          ExactScanState& exact = ctx.mode_state.emplace<ExactScanState>();
          exact.catalog =
              std::make_shared<CatalogState>(ctx.driver.rt, *ctx.driver.options.catalog);
          ctx.driver.report.catalog.outcome = CatalogOutcome::kNotComplete;
        },
    .scan_archives = kExactScans.scan_archives,
    .scan_map_files = kExactScans.scan_map_files,
    .write_found_maps = kExactScans.write_found_maps,
    .complete =
        [](ScanContext& ctx) {
          // A catalogue missing a folder's maps would be no catalogue of the installation.
          if (ctx.driver.folders_incomplete != 0) return;
          complete_catalog(*exact_scan_state(ctx).catalog, ctx.driver.report);
        },
    .finish = kExactScans.finish,
    .fold_name_case = kExactScans.fold_name_case,
};

}  // namespace

const ModeScans& scans_of(ScanMode mode) {
  switch (mode) {
    case ScanMode::kExact:
      return kExactScans;
    case ScanMode::kCatalog:
      return kCatalogScans;
    case ScanMode::kByteSearch:
      break;
  }
  return kByteSearchScans;
}

}  // namespace mapsweep
