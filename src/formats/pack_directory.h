// The directory of a PACK archive: a 12-byte header ("PACK", then the directory's offset
// and length as int32) points at 64-byte entries of a NUL-padded 56-byte path, the data's
// offset and its size (int32 each).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace mapsweep::formats {

inline constexpr std::size_t kPackHeaderBytes = 12;
inline constexpr std::size_t kPackEntryBytes = 64;
inline constexpr std::size_t kPackPathBytes = 56;

// Where the directory lies in the archive; the caller reads `length` bytes at `offset`.
struct PackDirectoryPlace {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

struct PackEntry {
  std::string_view path;  // into the directory bytes given
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

// No value when the archive cannot be read at all: not a PACK header, or a directory
// with a negative place or length, a length that is not whole entries, or a directory
// that runs past the end of the file.
std::optional<PackDirectoryPlace> read_pack_header(std::string_view first_bytes,
                                                   std::uint64_t file_size);

// The usable entries, in directory order. An entry whose path fills all 56 bytes or
// whose data lies (partly) outside the file is left out. No value when `directory` is not
// whole entries (not the bytes the header announced).
std::optional<std::vector<PackEntry>> read_pack_directory(std::string_view directory,
                                                          std::uint64_t file_size);

}  // namespace mapsweep::formats
