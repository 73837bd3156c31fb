#include "formats/pack_directory.h"

#include "formats/byte_reading.h"

namespace mapsweep::formats {

PackHeader read_pack_header(std::string_view first_bytes, std::uint64_t file_size) {
  if (first_bytes.size() < kPackHeaderBytes || first_bytes.substr(0, 4) != "PACK") return {};
  const std::int32_t offset = i32_at(first_bytes, 4);
  const std::int32_t length = i32_at(first_bytes, 8);
  if (offset < 0 || length < 0 || length % kPackEntryBytes != 0 ||
      !range_fits(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length),
                  file_size)) {
    return {PackHeader::Result::kDamaged, {}};
  }
  return {PackHeader::Result::kRead,
          {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length)}};
}

PackEntryRead read_pack_entry(std::string_view entry_bytes, std::uint64_t file_size) {
  const std::string_view path_bytes = entry_bytes.substr(0, kPackPathBytes);
  const std::size_t path_end = path_bytes.find('\0');
  if (path_end == std::string_view::npos) return {};
  const std::int32_t offset = i32_at(entry_bytes, kPackPathBytes);
  const std::int32_t size = i32_at(entry_bytes, kPackPathBytes + 4);
  PackEntryRead read{PackEntryRead::Result::kOutside, {}};
  if (offset < 0 || size < 0) return read;
  read.entry = {path_bytes.substr(0, path_end), static_cast<std::uint32_t>(offset),
                static_cast<std::uint32_t>(size)};
  if (range_fits(read.entry.offset, read.entry.size, file_size)) {
    read.result = PackEntryRead::Result::kRead;
  }
  return read;
}

}  // namespace mapsweep::formats
