// Fuzzes the way from a map file to its title: the header's entity lump, what the entity
// text says, and the title made of the world's message.
#include <cstdint>
#include <string>

#include "formats/byte_reading.h"
#include "formats/entity_text.h"
#include "formats/map_header.h"
#include "formats/map_title.h"
#include "fuzz_check.h"

using namespace mapsweep::formats;
using mapsweep::fuzz::check;

namespace {

void check_title(const std::string& title, std::string_view message) {
  check(title.size() <= message.size());
  if (title.empty()) return;
  check(title.front() != ' ' && title.back() != ' ');
  check(title.find("  ") == std::string::npos && title.find('"') == std::string::npos);
  for (const char c : title) {
    const auto byte = static_cast<unsigned char>(c);
    check(byte >= 0x20 && byte < 0x7F);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view file = mapsweep::fuzz::bytes_of(data, size);
  const auto lump = entity_lump(file.substr(0, kMapHeaderBytes), size);
  if (!lump) return 0;
  check(range_fits(lump->offset, lump->length, size));
  const std::string_view text = file.substr(lump->offset, lump->length);
  const MapEntities found = read_map_entities(text);
  check(mapsweep::fuzz::lies_within(found.message, text));
  check(found.has_world || found.message.empty());
  check_title(display_title(found.message), found.message);
  return 0;
}
