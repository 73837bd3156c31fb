// Fuzzes the zip reader with whole archive files, step by step as a caller reads them:
// the end records, the directory, every entry's local header, and each deflated entry
// inflated to a small cap, once whole and once in pieces whose sizes the input chooses.
#include <algorithm>
#include <cstdint>

#include "formats/bounded_inflate.h"
#include "formats/byte_reading.h"
#include "formats/zip_directory.h"
#include "fuzz_check.h"

using namespace mapsweep::formats;
using mapsweep::fuzz::check;

namespace {

constexpr std::size_t kEntryCap = 4096;

void inflate_entry(std::string_view compressed, std::size_t limit) {
  BoundedInflate whole(limit);
  const BoundedInflate::Status status = whole.feed(compressed);
  check(whole.output().size() <= limit);
  check(status != BoundedInflate::Status::kNeedsInput || whole.output().size() < limit);

  BoundedInflate pieces(limit);
  BoundedInflate::Status piece_status = pieces.status();
  std::size_t at = 0;
  while (at < compressed.size() && piece_status == BoundedInflate::Status::kNeedsInput) {
    const std::size_t piece = 1 + static_cast<unsigned char>(compressed[at]) % 64;
    piece_status = pieces.feed(compressed.substr(at, piece));
    at += piece;
  }
  check(piece_status == status);
  // Where damage stops the output may depend on zlib's buffering; otherwise it may not.
  check(status == BoundedInflate::Status::kDamaged || pieces.output() == whole.output());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view file = mapsweep::fuzz::bytes_of(data, size);
  const auto end = locate_zip_end(file.substr(size - std::min(size, kZipTailBytes)), size);
  if (!end) return 0;
  ZipDirectoryPlace place;
  if (end->directory) {
    place = *end->directory;
  } else {
    check(range_fits(end->zip64_end_offset, kZip64EndBytes, size));
    const auto zip64 =
        read_zip64_end(file.substr(end->zip64_end_offset, kZip64EndBytes), end->zip64_end_offset);
    if (!zip64) return 0;
    place = *zip64;
  }
  check(range_fits(place.offset, place.size, size));
  const std::string_view directory = file.substr(place.offset, place.size);
  const auto entries = read_zip_directory(directory, place, size);
  if (!entries) return 0;
  check(entries->size() <= place.entries);
  for (const ZipEntry& entry : *entries) {
    check(mapsweep::fuzz::lies_within(entry.name, directory));
    check(entry.method == kZipStored || entry.method == kZipDeflated);
    check(
        range_fits(entry.local_header_offset, kZipLocalHeaderBytes + entry.compressed_size, size));
    const auto data_at =
        zip_data_offset(file.substr(entry.local_header_offset, kZipLocalHeaderBytes), entry, size);
    if (!data_at) continue;
    check(range_fits(*data_at, entry.compressed_size, size));
    if (entry.method == kZipDeflated) {
      inflate_entry(
          file.substr(*data_at, entry.compressed_size),
          static_cast<std::size_t>(std::min<std::uint64_t>(entry.uncompressed_size, kEntryCap)));
    }
  }
  return 0;
}
