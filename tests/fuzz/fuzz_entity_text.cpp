// Fuzzes the entity text reader and the title made of it, with any bytes as the text:
// whatever follows a NUL changes nothing, the message is a view into the text, and the
// title the program gives a playable map is the message's, in a form a list line can hold.
#include <cstddef>
#include <string>

#include "formats/entity_text.h"
#include "formats/map_data.h"
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

  const std::string title = display_title(found.message);
  check(title.size() <= found.message.size());
  mapsweep::fuzz::check_title(title);
  // Any bytes at all make a title of the same form.
  mapsweep::fuzz::check_title(display_title(text));

  const MapRead read = title_of_entity_text(text);
  check((read.outcome == MapOutcome::kTitled) == found.playable());
  check(read.outcome == MapOutcome::kTitled || read.outcome == MapOutcome::kNoMap);
  check(read.title == (found.playable() ? title : std::string()));
  return 0;
}
