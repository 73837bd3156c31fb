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

struct PackHeader {
  enum class Result {
    kNotPack,  // too short, or no PACK magic: some other file
    kDamaged,  // a PACK whose directory has a negative place or length, a length that is
               // not whole entries, or runs past the end of the file
    kRead,
  };
  Result result = Result::kNotPack;
  PackDirectoryPlace place;
};
PackHeader read_pack_header(std::string_view first_bytes, std::uint64_t file_size);

// One kPackEntryBytes directory entry. kNoPath: the path fills all 56 bytes (no NUL ends
// it), an entry nothing can name; kOutside: its data has a negative place or size or lies
// (partly) outside the file, which only a damaged archive has.
struct PackEntryRead {
  enum class Result { kRead, kNoPath, kOutside };
  Result result = Result::kNoPath;
  PackEntry entry;  // its path views into the bytes given
};
PackEntryRead read_pack_entry(std::string_view entry_bytes, std::uint64_t file_size);

}  // namespace mapsweep::formats
