// The progress of a run as one line on a terminal, written over again as the run goes on
// and erased at its end: not before the run has taken half a second, at most ten times a
// second. Only for a terminal: a pipe or a log file never gets it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/run_report.h"

namespace mapsweep {

class StatusLine final : public Progress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  explicit StatusLine(std::ostream& terminal, Clock clock = std::chrono::steady_clock::now);

  void update(int folder, int folders, std::uint64_t bytes_read) override;
  void finish() override;

 private:
  void show(const std::string& text);

  std::ostream& terminal_;
  Clock clock_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point shown_at_{};
  std::size_t shown_width_ = 0;  // what the line on the terminal holds now
};

}  // namespace mapsweep
