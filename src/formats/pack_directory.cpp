#include "formats/pack_directory.h"

#include "formats/byte_reading.h"

namespace mapsweep::formats {

std::optional<PackDirectoryPlace> read_pack_header(std::string_view first_bytes,
                                                   std::uint64_t file_size) {
  if (first_bytes.size() < kPackHeaderBytes || first_bytes.substr(0, 4) != "PACK") {
    return std::nullopt;
  }
  const std::int32_t offset = i32_at(first_bytes, 4);
  const std::int32_t length = i32_at(first_bytes, 8);
  if (offset < 0 || length < 0 || length % kPackEntryBytes != 0) return std::nullopt;
  if (!range_fits(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length),
                  file_size)) {
    return std::nullopt;
  }
  return PackDirectoryPlace{static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length)};
}

std::optional<std::vector<PackEntry>> read_pack_directory(std::string_view directory,
                                                          std::uint64_t file_size) {
  if (directory.size() % kPackEntryBytes != 0) return std::nullopt;
  std::vector<PackEntry> entries;
  entries.reserve(directory.size() / kPackEntryBytes);
  for (std::size_t at = 0; at < directory.size(); at += kPackEntryBytes) {
    const std::string_view path_bytes = directory.substr(at, kPackPathBytes);
    const std::size_t path_end = path_bytes.find('\0');
    if (path_end == std::string_view::npos) continue;
    const std::int32_t offset = i32_at(directory, at + kPackPathBytes);
    const std::int32_t size = i32_at(directory, at + kPackPathBytes + 4);
    if (offset < 0 || size < 0) continue;
    const auto data_offset = static_cast<std::uint32_t>(offset);
    const auto data_size = static_cast<std::uint32_t>(size);
    if (!range_fits(data_offset, data_size, file_size)) continue;
    entries.push_back({path_bytes.substr(0, path_end), data_offset, data_size});
  }
  return entries;
}

}  // namespace mapsweep::formats
