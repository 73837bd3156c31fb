// Map files made from fuzz input for the structure-aware targets: real-shaped headers and
// entity text, so that the inputs get past every check and reach the titles.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace mapsweep::fuzz {

struct MadeMap {
  std::string bytes;
  std::string message;    // the world's message as written
  bool as_built = false;  // playable as made and not changed since: its title is known
};

// A map of any layout: entity text of 0 bytes to 1 MiB (mostly a few KiB) with LF or CR LF
// line ends, tabs and comments, a world with a message and usually a player start, other
// blocks to fill it, a body of input bytes around it, and once in a while a few bytes
// changed anywhere (the header most often).
MadeMap make_map(FuzzedDataProvider& input);

}  // namespace mapsweep::fuzz
