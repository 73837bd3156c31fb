// Writes zip archives for tests and fuzz seeds: stored and deflated members, optionally
// through ZIP64 records, with local headers that may differ from the central directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mapsweep::testing {

// Raw deflate data (no zlib header or trailer), as zip members hold it.
std::string raw_deflate(std::string_view data, int level = 6);

struct ZipMember {
  std::string name;
  std::string data;
  bool deflated = false;
  int level = 6;  // the deflate level, for a deflated member
  // The local header's sizes and CRC left zero and given in a data descriptor after the
  // data (flag bit 3), as streaming writers do.
  bool data_descriptor = false;
  std::uint16_t flags = 0;
  // Written instead of the real method; the data is then stored as given.
  std::optional<std::uint16_t> method;
  // Written as the uncompressed size instead of the data's own (with `method`, the size
  // the given data inflates to).
  std::optional<std::uint64_t> size;
  // The local header's own name and extra field, when they differ from the directory's.
  std::optional<std::string> local_name;
  std::string local_extra;
};

struct ZipOptions {
  // Every size and offset saturated and given by ZIP64 extra fields and end records.
  bool zip64 = false;
  std::string comment;
};

// Local headers and data in member order, then the central directory and the end records.
std::string zip_archive(const std::vector<ZipMember>& members, const ZipOptions& options = {});

}  // namespace mapsweep::testing
