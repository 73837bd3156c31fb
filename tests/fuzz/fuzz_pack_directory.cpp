// Fuzzes the PACK reader with whole archive files: the header, the directory it points
// at, and the map name of every entry's path.
#include <cstdint>

#include "formats/byte_reading.h"
#include "formats/map_path.h"
#include "formats/pack_directory.h"
#include "fuzz_check.h"

using namespace mapsweep::formats;
using mapsweep::fuzz::check;
using mapsweep::fuzz::lies_within;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view file = mapsweep::fuzz::bytes_of(data, size);
  const auto place = read_pack_header(file.substr(0, kPackHeaderBytes), size);
  if (!place) return 0;
  check(range_fits(place->offset, place->length, size) && place->length % kPackEntryBytes == 0);
  const std::string_view directory = file.substr(place->offset, place->length);
  const auto entries = read_pack_directory(directory, size);
  check(entries.has_value() && entries->size() <= directory.size() / kPackEntryBytes);
  for (const PackEntry& entry : *entries) {
    check(range_fits(entry.offset, entry.size, size));
    check(lies_within(entry.path, directory) && entry.path.size() < kPackPathBytes);
    check(entry.path.find('\0') == std::string_view::npos);
    if (const auto name = map_name_of_path(entry.path)) {
      check(!name->empty() && name->find('/') == std::string_view::npos);
      check(lies_within(*name, entry.path));
    }
  }
  return 0;
}
