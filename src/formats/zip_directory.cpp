#include "formats/zip_directory.h"

#include "formats/byte_reading.h"

namespace mapsweep::formats {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::size_t kCentralHeaderBytes = 46;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kSaturated32 = 0xFFFFFFFF;

bool signature_at(std::string_view bytes, std::size_t at, std::uint32_t signature) {
  return bytes.size() >= 4 && at <= bytes.size() - 4 && u32_at(bytes, at) == signature;
}

// The end record's position in the tail, or npos.
std::size_t find_end_record(std::string_view tail) {
  if (tail.size() < kZipEndBytes) return std::string_view::npos;
  // A comment may itself hold the signature; the record whose comment reaches exactly to
  // the end of the file is the real one.
  const auto search = [&](bool exact) {
    for (std::size_t at = tail.size() - kZipEndBytes + 1; at-- > 0;) {
      if (!signature_at(tail, at, kEndSignature)) continue;
      const std::size_t end = at + kZipEndBytes + u16_at(tail, at + 20);
      if (exact ? end == tail.size() : end <= tail.size()) return at;
    }
    return std::string_view::npos;
  };
  const std::size_t exact = search(true);
  return exact != std::string_view::npos ? exact : search(false);
}

bool entries_fit(const ZipDirectoryPlace& place) {
  return place.entries <= place.size / kCentralHeaderBytes;
}

// Replaces the saturated fields by the ZIP64 extra field's values, which come in this
// order and only for the fields that are saturated. False when a value is missing.
bool take_zip64_values(std::string_view extra, ZipEntry& entry) {
  std::uint64_t* const fields[] = {&entry.uncompressed_size, &entry.compressed_size,
                                   &entry.local_header_offset};
  bool needed = false;
  for (const std::uint64_t* field : fields) needed = needed || *field == kSaturated32;
  if (!needed) return true;
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const std::uint16_t id = u16_at(extra, at);
    const std::uint16_t length = u16_at(extra, at + 2);
    at += 4;
    if (length > extra.size() - at) return false;
    if (id == kZip64ExtraId) {
      const std::string_view values = extra.substr(at, length);
      std::size_t next = 0;
      for (std::uint64_t* field : fields) {
        if (*field != kSaturated32) continue;
        if (values.size() - next < 8) return false;
        *field = u64_at(values, next);
        next += 8;
      }
      return true;
    }
    at += length;
  }
  return false;
}

}  // namespace

std::optional<ZipEnd> locate_zip_end(std::string_view tail, std::uint64_t file_size) {
  if (tail.size() > file_size) return std::nullopt;
  const std::size_t at = find_end_record(tail);
  if (at == std::string_view::npos) return std::nullopt;
  const std::uint64_t end_offset = file_size - tail.size() + at;

  if (at >= kZip64LocatorBytes &&
      signature_at(tail, at - kZip64LocatorBytes, kZip64LocatorSignature)) {
    const std::size_t locator = at - kZip64LocatorBytes;
    const std::uint32_t record_disk = u32_at(tail, locator + 4);
    const std::uint64_t record_offset = u64_at(tail, locator + 8);
    const std::uint32_t disks = u32_at(tail, locator + 16);
    if (record_disk != 0 || disks > 1 ||
        !range_fits(record_offset, kZip64EndBytes, end_offset - kZip64LocatorBytes)) {
      return std::nullopt;
    }
    return ZipEnd{std::nullopt, record_offset};
  }

  const std::uint16_t disk = u16_at(tail, at + 4);
  const std::uint16_t directory_disk = u16_at(tail, at + 6);
  const std::uint16_t disk_entries = u16_at(tail, at + 8);
  const ZipDirectoryPlace place{u32_at(tail, at + 16), u32_at(tail, at + 12),
                                u16_at(tail, at + 10)};
  if (disk != 0 || directory_disk != 0 || disk_entries != place.entries ||
      !range_fits(place.offset, place.size, end_offset) || !entries_fit(place)) {
    return std::nullopt;
  }
  return ZipEnd{place, 0};
}

std::optional<ZipDirectoryPlace> read_zip64_end(std::string_view record,
                                                std::uint64_t record_offset) {
  if (record.size() < kZip64EndBytes || !signature_at(record, 0, kZip64EndSignature)) {
    return std::nullopt;
  }
  const std::uint64_t record_size = u64_at(record, 4);  // after this field
  const std::uint32_t disk = u32_at(record, 16);
  const std::uint32_t directory_disk = u32_at(record, 20);
  const std::uint64_t disk_entries = u64_at(record, 24);
  const ZipDirectoryPlace place{u64_at(record, 48), u64_at(record, 40), u64_at(record, 32)};
  if (record_size < kZip64EndBytes - 12 || disk != 0 || directory_disk != 0 ||
      disk_entries != place.entries || !range_fits(place.offset, place.size, record_offset) ||
      !entries_fit(place)) {
    return std::nullopt;
  }
  return place;
}

ZipHeader read_zip_header(std::string_view bytes, ZipEntry& entry) {
  if (bytes.size() < 4) return {ZipHeader::Result::kCut, 0};
  if (!signature_at(bytes, 0, kCentralHeaderSignature)) return {ZipHeader::Result::kBroken, 0};
  if (bytes.size() < kCentralHeaderBytes) return {ZipHeader::Result::kCut, 0};
  const std::size_t name_length = u16_at(bytes, 28);
  const std::size_t extra_length = u16_at(bytes, 30);
  const std::size_t comment_length = u16_at(bytes, 32);
  const std::size_t length = kCentralHeaderBytes + name_length + extra_length + comment_length;
  if (length > bytes.size()) return {ZipHeader::Result::kCut, 0};

  entry = ZipEntry{};
  entry.name = bytes.substr(kCentralHeaderBytes, name_length);
  entry.flags = u16_at(bytes, 8);
  entry.method = u16_at(bytes, 10);
  entry.compressed_size = u32_at(bytes, 20);
  entry.uncompressed_size = u32_at(bytes, 24);
  entry.local_header_offset = u32_at(bytes, 42);
  const std::string_view extra = bytes.substr(kCentralHeaderBytes + name_length, extra_length);
  if (!take_zip64_values(extra, entry)) return {ZipHeader::Result::kUnusable, length};
  return {ZipHeader::Result::kRead, length};
}

bool zip_entry_supported(const ZipEntry& entry) {
  if ((entry.flags & 1) != 0) return false;  // encrypted
  if (entry.method != kZipStored && entry.method != kZipDeflated) return false;
  return entry.method != kZipStored || entry.compressed_size == entry.uncompressed_size;
}

bool zip_entry_fits(const ZipEntry& entry, std::uint64_t file_size) {
  return range_fits(entry.local_header_offset, kZipLocalHeaderBytes, file_size) &&
         range_fits(entry.local_header_offset + kZipLocalHeaderBytes, entry.compressed_size,
                    file_size);
}

std::optional<std::uint64_t> zip_data_offset(std::string_view local_header, const ZipEntry& entry,
                                             std::uint64_t file_size) {
  if (local_header.size() < kZipLocalHeaderBytes ||
      !signature_at(local_header, 0, kLocalHeaderSignature)) {
    return std::nullopt;
  }
  const std::uint64_t header_length =
      kZipLocalHeaderBytes + u16_at(local_header, 26) + u16_at(local_header, 28);
  if (!range_fits(entry.local_header_offset, header_length, file_size)) return std::nullopt;
  const std::uint64_t data_offset = entry.local_header_offset + header_length;
  if (!range_fits(data_offset, entry.compressed_size, file_size)) return std::nullopt;
  return data_offset;
}

}  // namespace mapsweep::formats
