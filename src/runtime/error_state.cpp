#include "runtime/error_state.h"

namespace mapsweep {

void ErrorState::raise_error(int number) {
  number_ = static_cast<std::uint8_t>(number == rt_error::kNone ? rt_error::kInternal : number);
  flag_ = true;
  ++raised_;
}

void ErrorState::check_error() {
  if (!flag_) return;
  flag_ = false;
  // The recovery stays armed: a failure inside it comes back to its start.
  if (armed_ != kNoRecovery) throw Trap{armed_};
}

void ErrorState::arm_recovery(RecoveryLabel label) {
  armed_ = label;
  flag_ = false;
}

}  // namespace mapsweep
