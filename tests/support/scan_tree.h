// The fixture of the map list builder's routines: the runtime over a temporary tree (see
// tree_runtime.h) with the driver's state and the byte search's built as the start of a run
// builds them. Test fixtures inherit it; the driver's tests take TreeRuntime alone, the
// driver building its own.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/byte_search.h"
#include "app/scan_context.h"
#include "runtime/channel.h"
#include "support/tree_runtime.h"

namespace mapsweep::testing {

class ScanTree : public TreeRuntime {
 protected:
  ScanTree() {
    build_driver_state(driver_);
    build_byte_search_state(rt_.err, search_);
  }

  // The names stored in slots 1 to the name count.
  std::vector<std::string> stored_names() const {
    std::vector<std::string> names;
    for (std::int32_t slot = 1; slot <= search_.name_count; ++slot) {
      names.emplace_back(element(search_.archive_names, slot));
    }
    return names;
  }

  // What a scan wrote to a list channel still open: the new file that replaces the list
  // only when every write went through.
  std::string written_to(std::int16_t channel) const {
    for (const auto& open : rt_.channels.open) {
      if (open->number != channel) continue;
      std::ifstream in(open->replacement.sibling, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    }
    return {};
  }

  DriverState driver_{rt_};
  ByteSearchState search_;
};

}  // namespace mapsweep::testing
