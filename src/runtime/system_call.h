// Judging an OS call: its last-error code alone decides. 0 is success, 1 to 39 a failure
// with the runtime error number of the translation table, 40 and above success again
// (informational codes such as "already exists" after opening an existing file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/byte_string.h"
#include "runtime/platform/os.h"

namespace mapsweep {

// The runtime error number for a last-error code, or 0 when the code is no failure.
std::uint8_t translate_system_error(std::uint32_t last_error);

// A name as the system sees it: zero-terminated (a NUL byte ends it there) and cut to the
// operation's limit without an error.
std::string system_name(const ByteString& name, std::size_t limit);

struct SystemCall {
  std::int64_t value;        // what the OS call returned, unchanged
  std::uint32_t last_error;  // the code it left behind
  std::uint8_t failure;      // 0, or the runtime error number to raise
};

// Makes one OS call and judges it. The win32 layer keeps the system's error dialogs away
// around each call; the POSIX layer has none to keep away.
template <class Call>
SystemCall system_call(Call&& call) {
  const os::Result r = call();
  return {r.value, r.last_error, translate_system_error(r.last_error)};
}

}  // namespace mapsweep
