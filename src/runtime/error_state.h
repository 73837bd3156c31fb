// The error state every runtime operation reports into, and the check the logic runs after
// each of its steps. Operations never throw: they raise a number and return a fallback.
// The check turns a pending failure into a Trap when a recovery is armed; each recovery
// is a catch at the place where it continues, so control resumes there whatever the depth.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "runtime/error_numbers.h"

namespace mapsweep {

// A recovery is a label owned by the logic; the runtime only stores and reports it.
using RecoveryLabel = int;
inline constexpr RecoveryLabel kNoRecovery = 0;

// Thrown by check_error to continue at the armed recovery.
struct Trap {
  RecoveryLabel recovery;
};

// For a recovery's catch: a trap that belongs to another recovery goes on to that one's
// catch further out. Call it only inside the handler of `trap`.
inline void rethrow_unless_mine(const Trap& trap, RecoveryLabel mine) {
  if (trap.recovery != mine) throw;
}

class ErrorState {
 public:
  // Records a failure; number 0 is recorded as rt_error::kInternal. Nothing is shown or stopped.
  void raise_error(int number);
  // After a step: drops a pending failure, and throws Trap when a recovery is armed.
  void check_error();
  // Makes `label` the armed recovery and drops a pending failure; the number is kept.
  void arm_recovery(RecoveryLabel label);
  // Drops a pending failure; the number is kept.
  void clear_error() { flag_ = false; }
  // What the directory search does whenever it asks the system: flag clear, number 0.
  void reset() {
    flag_ = false;
    number_ = 0;
  }
  // For steps that handle their own failure instead of trapping: reports whether one was
  // pending and drops it, leaving the armed recovery alone.
  bool take_failure() { return std::exchange(flag_, false); }
  // How many failures were raised so far, whatever became of them: a piece of work that
  // raised none went through whole.
  std::uint64_t raised_count() const { return raised_; }

  bool pending() const { return flag_; }
  std::uint8_t number() const { return number_; }
  RecoveryLabel armed() const { return armed_; }

 private:
  std::uint8_t number_ = 0;
  bool flag_ = false;
  std::uint64_t raised_ = 0;
  RecoveryLabel armed_ = kNoRecovery;
};

// Runs `work`; when it runs out of storage, raises 7 and returns `fallback()` instead.
template <class Work, class Fallback>
auto with_storage(ErrorState& err, Work&& work, Fallback&& fallback) -> decltype(work()) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    err.raise_error(rt_error::kOutOfStorage);
    try {
      return fallback();
    } catch (const std::bad_alloc&) {
      if constexpr (!std::is_void_v<decltype(work())>) return decltype(work()){};
    }
  }
}

}  // namespace mapsweep
