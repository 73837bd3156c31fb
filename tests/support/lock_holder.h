// "Another program holds this file open exclusively": a child process that opens the file
// and keeps an exclusive lock on it until the object is destroyed. The constructor returns
// only once the lock is held, and throws when it cannot be taken.
#pragma once

#include <cstdint>
#include <string>

namespace mapsweep::testing {

class LockHolder {
 public:
  explicit LockHolder(const std::string& absolute_path);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  // The child as its system names it: the process (an id or a handle) and the parent's end
  // of the pipe whose closing releases the child; -1 for none.
  struct Child {
    std::intptr_t process = -1;
    std::intptr_t release = -1;
  };
  // Each system's part (lock_holder_posix.cpp, lock_holder_win32.cpp). start() starts the
  // child, which opens the file and locks it, fills `child` as far as it got, and tells
  // whether the child reported the lock held. release() ends the child and waits for it,
  // so the file is free again when it returns; it is safe on a child that never started.
  static bool start(Child& child, const std::string& absolute_path);
  static void release(Child& child);

  Child child_;
};

}  // namespace mapsweep::testing
