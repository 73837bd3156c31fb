// Fuzzes the program's reading of a loose map file on memory: its header, the entity lump
// it points at and the title. Besides the title's form, a map is held to reading only what
// it must: bytes outside its header and its entity text, bytes of the text after the NUL
// that ends it, and bytes appended to a map that was read, change nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "formats/archive_maps.h"
#include "formats/map_header.h"
#include "fuzz_check.h"
#include "recording_source.h"

using namespace mapsweep::formats;
using mapsweep::fuzz::check;

namespace {

MapRead read_loose(std::string_view file) {
  MemorySource source(file);
  return read_loose_map(source);
}

bool same(const MapRead& a, const MapRead& b) {
  return a.outcome == b.outcome && a.title == b.title;
}

// `file` with every byte outside its header and its entity text (as far as it is read)
// overwritten, and every byte of the text after its first NUL.
std::string with_unread_bytes_changed(std::string_view file, const Lump& lump) {
  std::string changed(file.size(), '{');
  const std::size_t header = std::min(file.size(), kMapHeaderBytes);
  const std::string_view text =
      file.substr(lump.offset, std::min<std::uint64_t>(lump.length, kEntityTextLimit));
  const std::size_t nul = text.find('\0');
  const std::string_view read_part = text.substr(0, nul == std::string_view::npos ? text.size() : nul + 1);
  changed.replace(lump.offset, read_part.size(), read_part);
  // The text may take in the header; the bytes are the file's either way.
  changed.replace(0, header, file.substr(0, header));
  return changed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view file = mapsweep::fuzz::bytes_of(data, size);
  mapsweep::fuzz::RecordingSource source(file);
  const MapRead read = read_loose_map(source);
  // Memory never fails a read and a loose map is never deflated: a map or none.
  check(read.outcome == MapOutcome::kTitled || read.outcome == MapOutcome::kNoMap);
  check(read.outcome == MapOutcome::kTitled || read.title.empty());
  mapsweep::fuzz::check_title(read.title);
  // The header once, the entity text once.
  check(source.reads() <= 2);
  check(source.bytes_read() <= std::min(size, kMapHeaderBytes) + std::min<std::uint64_t>(size, kEntityTextLimit));
  check(same(read_loose(file), read));

  const std::optional<Lump> lump = entity_lump(file.substr(0, kMapHeaderBytes), size);
  check(lump.has_value() || read.outcome == MapOutcome::kNoMap);
  if (lump) check(same(read_loose(with_unread_bytes_changed(file, *lump)), read));

  // The lump still fits in a longer file, so a map that was read reads the same.
  if (read.outcome == MapOutcome::kTitled) {
    std::string longer(file);
    longer.append(std::min<std::size_t>(size, 64), '}');
    check(same(read_loose(longer), read));
  }
  return 0;
}
