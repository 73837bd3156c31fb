// Fuzzes the entity text reader alone, with any bytes as the text. Whatever follows a NUL
// must not change the outcome.
#include <cstdint>

#include "formats/entity_text.h"
#include "formats/map_title.h"
#include "fuzz_check.h"

using namespace mapsweep::formats;
using mapsweep::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view text = mapsweep::fuzz::bytes_of(data, size);
  const MapEntities found = read_map_entities(text);
  check(mapsweep::fuzz::lies_within(found.message, text));
  check(found.has_world || found.message.empty());
  check(found.message.find('\0') == std::string_view::npos);

  const MapEntities before_nul = read_map_entities(text.substr(0, text.find('\0')));
  check(before_nul.has_world == found.has_world);
  check(before_nul.has_player_start == found.has_player_start);
  check(before_nul.message.data() == found.message.data() &&
        before_nul.message.size() == found.message.size());
  check(display_title(found.message).size() <= found.message.size());
  return 0;
}
