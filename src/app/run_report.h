// What a run did, for the person who started it: the summary printed after the run, and
// the progress shown while it goes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/messages.h"

namespace mapsweep {

struct PassedOver {
  std::string path;    // relative to the starting directory
  std::string reason;  // why, in a few words
};

// What became of the combined list.
enum class CombinedList { kLeft, kWritten, kUnchanged };

// What became of the catalogue, in a run that writes one.
enum class CatalogOutcome {
  kNone,         // none was asked for
  kWritten,      // put in place (or, in a dry run, would be)
  kKept,         // the old folder holds files no run writes: left as it was
  kFailed,       // a step failed (error says which system error): left as it was
  kNotComplete,  // not every game folder was visited and read whole: left as it was
};

struct CatalogSummary {
  CatalogOutcome outcome = CatalogOutcome::kNone;
  std::string path;
  std::size_t maps = 0;
  std::uint64_t pictures = 0;
  std::uint32_t error = 0;
};

struct RunReport {
  bool declined = false;  // the start question was answered No: nothing was done
  bool dry_run = false;   // nothing was written or removed: the counts say what would be
  int folders_visited = 0;
  int lists_written = 0;    // the file's bytes changed (or it is new)
  int lists_unchanged = 0;  // the new list held the old one's bytes: left as it was
  int lists_kept = 0;       // left as they were because a scan could not read everything
  int lists_removed = 0;    // files, every letter-case variant counted
  CombinedList combined = CombinedList::kLeft;
  int maps_listed = 0;  // lines of the combined list as written
  std::vector<PassedOver> passed_over;  // reasons in English, as the scans give them
  CatalogSummary catalog;
};

// Told where the run stands: game folder `folder` of `folders` (0 before the first) by its
// name, and
// how many bytes of archives and map files were read so far. Called often; the receiver
// decides what to show.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void update(int folder, int folders, const std::string& folder_name,
                      std::uint64_t bytes_read) = 0;
  // The run is over: anything shown for it goes.
  virtual void finish() = 0;
};

// The summary in the language: folders visited, lists written, unchanged, kept and removed
// (what a dry run would write and remove), the combined list, and each file passed over
// with the reason. A declined run says only that nothing was done.
std::string summary_text(const RunReport& report, Language language);
// The summary's line about the catalogue; empty when none was asked for.
std::string catalog_summary_text(const RunReport& report, Language language);

}  // namespace mapsweep
