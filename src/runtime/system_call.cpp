#include "runtime/system_call.h"

namespace mapsweep {

std::uint8_t translate_system_error(std::uint32_t last_error) {
  // Indexed by the Windows system error code 1..39.
  // clang-format off
  static constexpr std::uint8_t kTable[40] = {
      0,   75, 53, 76, 67, 75, 51,  241, 7,  241,  // 0-9
      241, 51, 51, 51, 7,  68, 75,  74,  53, 70,   // 10-19
      68,  71, 51, 72, 51, 72, 72,  72,  27, 72,   // 20-29
      72,  72, 70, 70, 72, 75, 70,  75,  62, 61,   // 30-39
  };
  // clang-format on
  return last_error < 40 ? kTable[last_error] : 0;
}

}  // namespace mapsweep
