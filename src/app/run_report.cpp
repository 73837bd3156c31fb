#include "app/run_report.h"

#include <sstream>

namespace mapsweep {
namespace {

std::string counted(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string summary_text(const RunReport& report) {
  std::ostringstream text;
  text << counted(report.folders_visited, "game folder", "game folders")
       << " visited; lists: " << report.lists_written << " written, " << report.lists_kept
       << " left as they were, " << report.lists_removed << " removed; ";
  if (report.combined_written) {
    text << counted(report.maps_listed, "map", "maps") << " in the combined list.\n";
  } else {
    text << "the combined list was left as it was.\n";
  }
  if (!report.passed_over.empty()) {
    text << "Passed over:\n";
    for (const PassedOver& file : report.passed_over) {
      text << "  " << file.path << ": " << file.reason << "\n";
    }
  }
  return text.str();
}

}  // namespace mapsweep
