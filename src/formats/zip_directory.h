// The central directory of a zip archive, read in steps that match what the caller can
// read from the file:
//   1. the file's tail  -> locate_zip_end: the directory's place, or where the ZIP64 end
//                          record lies (then 2.), or no zip at all;
//   2. that record      -> read_zip64_end: the directory's place;
//   3. the directory    -> read_zip_header, one header after another;
//   4. an entry's local header -> zip_data_offset: where its data starts.
// Only single-disk archives are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace mapsweep::formats {

inline constexpr std::size_t kZipEndBytes = 22;
inline constexpr std::size_t kZip64LocatorBytes = 20;
// The end record with the longest comment, and the ZIP64 locator that may stand before it.
inline constexpr std::size_t kZipTailBytes = kZip64LocatorBytes + kZipEndBytes + 0xFFFF;
inline constexpr std::size_t kZip64EndBytes = 56;
inline constexpr std::size_t kZipLocalHeaderBytes = 30;

inline constexpr std::uint16_t kZipStored = 0;
inline constexpr std::uint16_t kZipDeflated = 8;

struct ZipDirectoryPlace {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t entries = 0;
};

struct ZipEnd {
  // Known from the end record itself.
  std::optional<ZipDirectoryPlace> directory;
  // Otherwise: read kZip64EndBytes bytes at this offset and hand them to read_zip64_end.
  std::uint64_t zip64_end_offset = 0;
};

struct ZipEntry {
  std::string_view name;  // into the directory bytes given
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_header_offset = 0;
};

// `tail` is the last min(kZipTailBytes, file_size) bytes of the file. The end record is
// searched from the back: the one whose comment ends exactly with the file wins, else the
// last one whose comment fits. No value without one, for a multi-disk archive, or when
// the directory or the ZIP64 record would not lie before the end record.
std::optional<ZipEnd> locate_zip_end(std::string_view tail, std::uint64_t file_size);

// The ZIP64 end record read at `record_offset`; no value when it is not one or its
// directory does not lie before it.
std::optional<ZipDirectoryPlace> read_zip64_end(std::string_view record,
                                                std::uint64_t record_offset);

// One central directory header at the start of `bytes`: kRead with its length, kCut when
// `bytes` end inside it (read more and try again), kBroken when no header starts there.
// The entry's names view into `bytes`. Saturated 32-bit fields are replaced by the ZIP64
// extra field's values; when one is missing there the header is kUnusable (its length is
// known, its sizes are not).
struct ZipHeader {
  enum class Result { kRead, kUnusable, kCut, kBroken };
  Result result = Result::kBroken;
  std::size_t length = 0;
};
ZipHeader read_zip_header(std::string_view bytes, ZipEntry& entry);

// Whether the program can read the entry's data at all: not encrypted, stored or
// deflated, and a stored entry's two sizes agree. Other entries are passed over quietly:
// real archives hold them.
bool zip_entry_supported(const ZipEntry& entry);
// Whether the entry's local header and data could lie within the file.
bool zip_entry_fits(const ZipEntry& entry, std::uint64_t file_size);

// Where the entry's data starts, from the first kZipLocalHeaderBytes of its local header
// (whose name and extra lengths may differ from the directory's); no value when that is
// no local header or the data would not lie within the file.
std::optional<std::uint64_t> zip_data_offset(std::string_view local_header, const ZipEntry& entry,
                                             std::uint64_t file_size);

}  // namespace mapsweep::formats
