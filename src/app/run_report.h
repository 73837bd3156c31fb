// What a run did, for the person who started it: the summary printed after the run, and
// the progress shown while it goes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mapsweep {

struct PassedOver {
  std::string path;    // relative to the starting directory
  std::string reason;  // why, in a few words
};

struct RunReport {
  int folders_visited = 0;
  int lists_written = 0;
  int lists_kept = 0;  // left as they were: a scan that could not read everything, or a
                       // list that could not be replaced
  int lists_removed = 0;
  bool combined_written = false;
  int maps_listed = 0;  // lines of the combined list as written
  std::vector<PassedOver> passed_over;
};

// Told where the run stands: game folder `folder` of `folders` (0 before the first), and
// how many bytes of archives and map files were read so far. Called often; the receiver
// decides what to show.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void update(int folder, int folders, std::uint64_t bytes_read) = 0;
  // The run is over: anything shown for it goes.
  virtual void finish() = 0;
};

// The summary: folders visited, lists written, kept and removed, maps listed, and each file
// passed over with the reason.
std::string summary_text(const RunReport& report);

}  // namespace mapsweep
