#include "entry/status_line.h"

namespace mapsweep {
namespace {

constexpr std::chrono::milliseconds kQuietStart{500};
constexpr std::chrono::milliseconds kBetweenUpdates{100};

std::string status_text(int folder, int folders, std::uint64_t bytes_read) {
  return "mapsweep: game folder " + std::to_string(folder) + " of " + std::to_string(folders) +
         ", " + std::to_string(bytes_read >> 20) + " MiB read";
}

}  // namespace

StatusLine::StatusLine(std::ostream& terminal, Clock clock)
    : terminal_(terminal), clock_(std::move(clock)), started_(clock_()) {}

void StatusLine::update(int folder, int folders, std::uint64_t bytes_read) {
  const auto now = clock_();
  if (now - started_ < kQuietStart) return;
  if (shown_width_ != 0 && now - shown_at_ < kBetweenUpdates) return;
  shown_at_ = now;
  show(status_text(folder, folders, bytes_read));
}

void StatusLine::finish() {
  if (shown_width_ == 0) return;
  terminal_ << '\r' << std::string(shown_width_, ' ') << '\r' << std::flush;
  shown_width_ = 0;
}

// Over the line shown before; a shorter text is padded so that none of the old one stays.
void StatusLine::show(const std::string& text) {
  std::string line = text;
  if (line.size() < shown_width_) line.append(shown_width_ - line.size(), ' ');
  terminal_ << '\r' << line << std::flush;
  shown_width_ = line.size();
}

}  // namespace mapsweep
