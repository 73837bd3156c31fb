// What the catalogue says about one map: the record behind a row of the page and an entry
// of maps.json. The scans fill it in; the page and the JSON writers only read it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace mapsweep {

// Where a copy of a map lies. Paths use '/' and are relative to the base directory.
struct MapSource {
  std::string archive;  // the archive's path ("id1/pak0.pak"); empty for a loose map file
  std::string path;     // the entry's name in the archive, or the loose file's path
};

// The ways a map can be played, from the spawn points its entity text places.
struct PlayModes {
  bool single = false;      // info_player_start
  bool coop = false;        // info_player_coop
  bool deathmatch = false;  // info_player_deathmatch
  bool team = false;        // info_player_team*, team_CTF_*spawn
};

struct CatalogMap {
  std::string folder;   // the game folder's name
  std::string name;     // as the lists give it
  std::string title;    // the display form the lists give
  std::string message;  // worldspawn's raw message bytes
  MapSource source;     // the copy a game loads
  std::vector<MapSource> shadows;  // the copies it hides, the next to win first
  std::string family;   // "29", "30", "BSP2", "IBSP38", "IBSP46", "IBSP47", "RBSP", "FBSP"
  std::uint64_t size = 0;          // the map's own bytes (inflated)
  PlayModes modes;
  std::uint32_t monsters = 0;      // blocks whose classname begins with monster_
  std::uint32_t secrets = 0;       // trigger_secret blocks
  std::string nextmap;             // empty when none is set
  std::string picture;  // "pictures/N/M.png", relative to the catalogue; empty when none was drawn
};

// A run's maps, in order. A deque grows without moving what it holds into a buffer twice
// the size: with tens of thousands of maps that would double the records' memory at its
// peak.
using CatalogMaps = std::deque<CatalogMap>;

}  // namespace mapsweep
