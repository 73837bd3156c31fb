// What the lock holders of both systems share: a child that did not report the lock held
// is ended at once, and every child is ended with its holder.
#include "support/lock_holder.h"

#include <stdexcept>

namespace mapsweep::testing {

LockHolder::LockHolder(const std::string& absolute_path) {
  if (!start(child_, absolute_path)) {
    release(child_);
    throw std::runtime_error("lock holder: cannot lock " + absolute_path);
  }
}

LockHolder::~LockHolder() {
  release(child_);
}

}  // namespace mapsweep::testing
