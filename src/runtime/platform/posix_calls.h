// What every POSIX platform file shares: system calls retried when a signal interrupts them.
#pragma once

#include <cerrno>

namespace mapsweep::os {

template <class Call>
auto retry_on_eintr(Call&& call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace mapsweep::os
