#include "runtime/system_call.h"

#include <algorithm>

#include "runtime/error_numbers.h"

namespace mapsweep {

std::uint8_t translate_system_error(std::uint32_t last_error) {
  using namespace rt_error;
  // Indexed by the Windows system error code 1..39.
  // clang-format off
  static constexpr std::uint8_t kTable[40] = {
      kNone,             kAccessDenied,    kFileNotFound,     kPathNotFound,
      kTooManyFiles,     kAccessDenied,    kInternal,         kSystemResource,
      kOutOfStorage,     kSystemResource,  kSystemResource,   kInternal,          // 8-11
      kInternal,         kInternal,        kOutOfStorage,     kDeviceUnavailable, // 12-15
      kAccessDenied,     kAcrossDisks,     kFileNotFound,     kPermissionDenied,  // 16-19
      kDeviceUnavailable, kDiskNotReady,   kInternal,         kDiskMediaError,    // 20-23
      kInternal,         kDiskMediaError,  kDiskMediaError,   kDiskMediaError,    // 24-27
      kOutOfPaper,       kDiskMediaError,  kDiskMediaError,   kDiskMediaError,    // 28-31
      kPermissionDenied, kPermissionDenied, kDiskMediaError,  kAccessDenied,      // 32-35
      kPermissionDenied, kAccessDenied,    kPastEnd,          kDiskFull,          // 36-39
  };
  // clang-format on
  return last_error < 40 ? kTable[last_error] : 0;
}

std::string system_name(const ByteString& name, std::size_t limit) {
  const std::string_view view = os::up_to_nul(name);
  return std::string(view.substr(0, std::min(view.size(), limit)));
}

}  // namespace mapsweep
