#include "entry/status_line.h"

#include <algorithm>

namespace mapsweep {
namespace {

constexpr std::chrono::milliseconds kQuietStart{500};
constexpr std::chrono::milliseconds kBetweenUpdates{100};
// When the terminal cannot say how wide it is: the width every terminal has at least.
constexpr std::size_t kDefaultColumns = 80;
constexpr char kCutMark[] = "...";

bool starts_character(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// Columns a UTF-8 text takes, a column a character (wide characters are rare in folder
// names; a line one column short of them is no harm).
std::size_t columns_of(const std::string& text) {
  std::size_t columns = 0;
  for (char byte : text) columns += starts_character(byte) ? 1 : 0;
  return columns;
}

std::string printable(const std::string& name) {
  std::string shown = name;
  for (char& byte : shown) {
    const auto code = static_cast<unsigned char>(byte);
    if (code < 0x20 || code == 0x7F) byte = '?';
  }
  return shown;
}

// The text's first characters, at most `columns` of them.
std::string first_columns(const std::string& text, std::size_t columns) {
  std::size_t taken = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (starts_character(text[at]) && taken++ == columns) return text.substr(0, at);
  }
  return text;
}

}  // namespace

std::string status_text(int folder, int folders, const std::string& name,
                        std::uint64_t bytes_read, std::size_t columns) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on a chain of +.
  std::string head = "[";
  head += std::to_string(folder);
  head += '/';
  head += std::to_string(folders);
  head += "] ";
  head += std::to_string(bytes_read >> 20);
  head += " MiB  ";
  const std::size_t room = (columns != 0 ? columns : kDefaultColumns) - 1;
  if (head.size() >= room) return head.substr(0, room);
  const std::string shown = printable(name);
  const std::size_t left = room - head.size();
  if (columns_of(shown) <= left) return head + shown;
  const std::size_t mark = sizeof(kCutMark) - 1;
  if (left <= mark) return head + first_columns(shown, left);
  return head + first_columns(shown, left - mark) + kCutMark;
}

StatusLine::StatusLine(std::ostream& terminal, Clock clock, Width width)
    : terminal_(terminal), clock_(std::move(clock)), width_(std::move(width)), started_(clock_()) {}

void StatusLine::update(int folder, int folders, const std::string& folder_name,
                        std::uint64_t bytes_read) {
  const auto now = clock_();
  if (now - started_ < kQuietStart) return;
  if (shown_width_ != 0 && now - shown_at_ < kBetweenUpdates) return;
  shown_at_ = now;
  show(status_text(folder, folders, folder_name, bytes_read, width_()));
}

void StatusLine::finish() {
  if (shown_width_ == 0) return;
  terminal_ << '\r' << std::string(shown_width_, ' ') << '\r' << std::flush;
  shown_width_ = 0;
}

// Over the line shown before; a shorter text is padded so that none of the old one stays.
void StatusLine::show(const std::string& text) {
  std::string line = text;
  const std::size_t columns = columns_of(line);
  if (columns < shown_width_) line.append(shown_width_ - columns, ' ');
  terminal_ << '\r' << line << std::flush;
  shown_width_ = std::max(columns, shown_width_);
}

}  // namespace mapsweep
