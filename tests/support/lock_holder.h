// "Another program holds this file open exclusively": a child process that opens the file
// and keeps an exclusive lock on it until the object is destroyed. The constructor returns
// only once the lock is held, and throws when it cannot be taken.
#pragma once

#include <memory>
#include <string>

namespace mapsweep::testing {

class LockHolder {
 public:
  explicit LockHolder(const std::string& absolute_path);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  struct Child;
  static void release(Child& child);
  std::unique_ptr<Child> child_;
};

}  // namespace mapsweep::testing
