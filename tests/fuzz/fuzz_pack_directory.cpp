// Fuzzes the program's PACK reading with whole archive files on memory: the directory read
// a piece at a time, every map entry's header and entity text, the budget. What is held of
// it is in archive_checks.h.
#include <cstddef>

#include "archive_checks.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  mapsweep::fuzz::check_archive(mapsweep::fuzz::bytes_of(data, size),
                                mapsweep::formats::ArchiveKind::kPack);
  return 0;
}
