// A runtime and a built scan context over a given OS, for tests of the map list builder's
// routines. Boxes cannot be shown: every one answers 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/scan_context.h"
#include "runtime/message_box.h"
#include "runtime/platform/os.h"

namespace mapsweep::testing {

class ScanHarness {
 public:
  explicit ScanHarness(os::Os& os) : dialog_(make_unshown_dialog()), rt(os, *dialog_), ctx(rt) {
    build_scan_context(ctx);
  }

  // The names stored in slots 1 to the name count.
  std::vector<std::string> stored_names() const {
    std::vector<std::string> names;
    for (std::int32_t slot = 1; slot <= ctx.name_count; ++slot) {
      names.emplace_back(element(ctx.archive_names, slot));
    }
    return names;
  }

 private:
  std::unique_ptr<os::Dialog> dialog_;

 public:
  Runtime rt;
  ScanContext ctx;
};

}  // namespace mapsweep::testing
