// What the catalogue says about one map: the record behind a row of the page and an entry
// of maps.json. The scans fill it in; the page and the JSON writers only read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace mapsweep {

// Where a copy of a map lies. Paths use '/' and are relative to the base directory.
struct MapSource {
  std::string archive;  // the archive's path ("id1/pak0.pak"); empty for a loose map file
  std::string path;     // the entry's name in the archive, or the loose file's path
  bool operator==(const MapSource&) const = default;
};

// The ways a map can be played, from the spawn points its entity text places.
struct PlayModes {
  bool single = false;      // info_player_start
  bool coop = false;        // info_player_coop
  bool deathmatch = false;  // info_player_deathmatch
  bool team = false;        // info_player_team*, team_CTF_*spawn
  bool operator==(const PlayModes&) const = default;
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
  bool operator==(const CatalogMap&) const = default;
};

// A run's maps, in order, each packed into a few bytes more than its text: tens of
// thousands of records of nine strings each would cost about 420 bytes a map as objects
// (string headers, their allocations, the vector of shadows), 130 or so packed. They are
// kept in chunks, so that growing never copies what is held into a buffer twice the size.
// A map is unpacked into a CatalogMap when it is asked for.
class CatalogMaps {
 public:
  CatalogMaps() = default;
  CatalogMaps(std::initializer_list<CatalogMap> maps);

  void push_back(const CatalogMap& map);
  std::size_t size() const { return places_.size(); }
  bool empty() const { return places_.empty(); }
  // The map at `index` (below size()), as it was added.
  CatalogMap operator[](std::size_t index) const;

 private:
  struct Place {
    std::uint32_t chunk;
    std::uint32_t at;
  };
  std::vector<std::string> chunks_;
  std::vector<Place> places_;
};

}  // namespace mapsweep
