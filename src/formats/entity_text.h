// What a map's entity text says about the map: a sequence of blocks
// `{ "key" "value" ... }`, read as far as the blocks are well formed.
#pragma once

#include <cstdint>
#include <string_view>

namespace mapsweep::formats {

// What a catalogue shows of a map beyond its title: the ways to play it from its spawn
// points, what it holds, and where it leads.
struct MapFacts {
  bool single = false;         // an info_player_start block
  bool coop = false;           // an info_player_coop block
  bool deathmatch = false;     // an info_player_deathmatch block
  bool team = false;           // an info_player_team* or team_CTF_*spawn block
  std::uint32_t monsters = 0;  // blocks whose classname begins with monster_
  std::uint32_t secrets = 0;   // trigger_secret blocks
  // worldspawn's first "nextmap", else the first "map" of a trigger_changelevel block;
  // empty when neither is set (a view into the text given).
  std::string_view nextmap;
};

struct MapEntities {
  // The first block whose classname is "worldspawn" was found, with its first "message"
  // (empty when it has none; a view into the text given).
  bool has_world = false;
  std::string_view message;
  // Some block's classname begins with "info_player_".
  bool has_player_start = false;
  MapFacts facts;

  bool playable() const { return has_world && has_player_start; }
};

// Tokens: bytes up to 0x20 separate them and a NUL byte ends the text. Where a token
// would begin, "//" starts a comment up to the next LF, and "{" and "}" stand alone. A
// quoted token runs to the next quote (no escapes), an unquoted one to the next
// separator. Reading stops at the first malformed block (a non-brace between blocks, a
// brace where a key or value is due, the end inside a block), which counts for nothing;
// the complete blocks before it count. A block's classname is its first "classname".
// Linear time; nothing is allocated.
MapEntities read_map_entities(std::string_view text);

}  // namespace mapsweep::formats
