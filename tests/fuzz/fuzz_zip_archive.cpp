// Fuzzes the program's zip reading with whole archive files on memory: the end records,
// the directory read in windows, local headers, stored and deflated maps inflated piece by
// piece, the budget. What is held of it is in archive_checks.h.
#include <cstddef>

#include "archive_checks.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  mapsweep::fuzz::check_archive(mapsweep::fuzz::bytes_of(data, size),
                                mapsweep::formats::ArchiveKind::kZip);
  return 0;
}
