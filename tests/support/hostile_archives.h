// Archives built to hurt, for the tests and the hostile-archive benchmark: many directory
// entries sharing or overlapping one huge map, and members that inflate a thousandfold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mapsweep::testing {

// A playable map (a world titled `title` and a player start) whose entity text a comment
// pads to about `text_bytes`.
std::string map_with_text(const std::string& title, std::size_t text_bytes);

// A zip whose `copies` directory entries all name the one deflated `map` (local header at
// offset 0 when `step` is 0; the i-th entry's at i * step otherwise, overlapping it).
std::string zip_sharing_one_map(const std::string& map, int copies, std::uint64_t step);

// A PACK whose `copies` entries name `map` (all at its start when `step` is 0; the i-th at
// i * step bytes into it otherwise).
std::string pack_sharing_one_map(const std::string& map, int copies, std::size_t step);

// A zip of `members` distinct entries, each a map whose entity lump lies `lump_at` bytes
// in, deflated: each inflates `lump_at` bytes of filler before its text.
std::string expanding_zip(int members, std::size_t lump_at);

}  // namespace mapsweep::testing
