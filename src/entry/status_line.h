// The progress of a run as one line on a terminal, written over again as the run goes on
// and erased at its end: not before the run has taken half a second, at most ten times a
// second. Only for a terminal: a pipe or a log file never gets it. The line shows the game
// folder being worked on by its name, cut to the terminal's width, with its number and
// the bytes read so far.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/run_report.h"

namespace mapsweep {

// The line as shown: "[folder/folders] N MiB  name", the name's control bytes shown as '?'
// (a folder name must not drive the terminal) and its end cut so that the line takes at
// most `columns` - 1 columns (a line filling the last column would wrap on some).
std::string status_text(int folder, int folders, const std::string& name,
                        std::uint64_t bytes_read, std::size_t columns);

class StatusLine final : public Progress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // The terminal's width in columns, asked each time the line is shown (it may change);
  // 0 when it cannot be told.
  using Width = std::function<std::size_t()>;
  explicit StatusLine(std::ostream& terminal, Clock clock = std::chrono::steady_clock::now,
                      Width width = [] { return std::size_t{0}; });

  void update(int folder, int folders, const std::string& folder_name,
              std::uint64_t bytes_read) override;
  void finish() override;

 private:
  void show(const std::string& text);

  std::ostream& terminal_;
  Clock clock_;
  Width width_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point shown_at_{};
  std::size_t shown_width_ = 0;  // columns the line on the terminal holds now
};

}  // namespace mapsweep
