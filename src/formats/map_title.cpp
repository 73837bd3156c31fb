#include "formats/map_title.h"

namespace mapsweep::formats {
namespace {

char without_high_bit(char c) {
  return static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
}

char printable(char c) {
  if (c == '"') return '\'';
  if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return ' ';
  return c;
}

}  // namespace

std::string display_title(std::string_view message) {
  std::string title;
  title.reserve(message.size());
  // A space is held back until a non-space follows it, which trims and collapses at once.
  bool space_pending = false;
  for (std::size_t i = 0; i < message.size(); ++i) {
    char c = without_high_bit(message[i]);
    // The pair is looked for after the high bits are gone: 0xDC 0xEE is "\n" as well.
    if (c == '\\' && i + 1 < message.size() && without_high_bit(message[i + 1]) == 'n') {
      c = ' ';
      ++i;
    }
    c = printable(c);
    if (c == ' ') {
      space_pending = !title.empty();
      continue;
    }
    if (space_pending) title.push_back(' ');
    space_pending = false;
    title.push_back(c);
  }
  return title;
}

}  // namespace mapsweep::formats
