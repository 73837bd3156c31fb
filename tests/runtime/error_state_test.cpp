// The error state: which failures reach a recovery, and what a check leaves behind.
#include "runtime/error_state.h"

#include <gtest/gtest.h>

namespace mapsweep {
namespace {

constexpr RecoveryLabel kSomeRecovery = 3;

TEST(ErrorState, AFailureWithoutRecoveryLeavesNoTrace) {
  ErrorState err;
  err.raise_error(rt_error::kFileNotFound);
  EXPECT_NO_THROW(err.check_error());
  EXPECT_FALSE(err.pending());
  EXPECT_NO_THROW(err.check_error()) << "a later check finds the flag clear";
  EXPECT_EQ(err.number(), rt_error::kFileNotFound);
}

TEST(ErrorState, TwoFailuresInOneStatementTrapOnceWithTheSecondNumber) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  err.raise_error(rt_error::kPastEnd);
  err.raise_error(rt_error::kAccessDenied);
  try {
    err.check_error();
    FAIL() << "the check must continue at the recovery";
  } catch (const Trap& trap) {
    EXPECT_EQ(trap.recovery, kSomeRecovery);
  }
  EXPECT_EQ(err.number(), rt_error::kAccessDenied);
  EXPECT_NO_THROW(err.check_error());
}

TEST(ErrorState, ArmingDiscardsAPendingFailureButKeepsItsNumber) {
  ErrorState err;
  err.raise_error(rt_error::kPermissionDenied);
  err.arm_recovery(kSomeRecovery);
  EXPECT_FALSE(err.pending());
  EXPECT_NO_THROW(err.check_error());
  EXPECT_EQ(err.number(), rt_error::kPermissionDenied);
}

TEST(ErrorState, TheRecoveryStaysArmedAfterATrap) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  err.raise_error(rt_error::kOutOfStorage);
  EXPECT_THROW(err.check_error(), Trap);
  err.raise_error(rt_error::kOutOfStorage);
  EXPECT_THROW(err.check_error(), Trap) << "a failure inside the recovery comes back to it";
  EXPECT_EQ(err.armed(), kSomeRecovery);
}

TEST(ErrorState, NumberZeroIsRecordedAsFiftyOne) {
  ErrorState err;
  err.raise_error(rt_error::kNone);
  EXPECT_EQ(err.number(), rt_error::kInternal);
  EXPECT_TRUE(err.pending());
}

TEST(ErrorState, ClearAndResetDifferInWhatTheyKeep) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  err.raise_error(rt_error::kFileNotFound);
  err.clear_error();
  EXPECT_EQ(err.number(), rt_error::kFileNotFound);
  err.raise_error(rt_error::kFileNotFound);
  err.reset();
  EXPECT_FALSE(err.pending());
  EXPECT_EQ(err.number(), rt_error::kNone);
  EXPECT_EQ(err.armed(), kSomeRecovery);
}

TEST(ErrorState, TakeFailureReportsAndDropsWithoutTrapping) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  EXPECT_FALSE(err.take_failure());
  err.raise_error(rt_error::kPathNotFound);
  EXPECT_TRUE(err.take_failure());
  EXPECT_NO_THROW(err.check_error());
}

// A recovery continues where its catch stands, however deep the failing step was.
void failing_step(ErrorState& err, int depth) {
  if (depth > 0) return failing_step(err, depth - 1);
  err.raise_error(rt_error::kDiskFull);
  err.check_error();
  ADD_FAILURE() << "the statement after a trapped failure must not run";
}

TEST(ErrorState, ATrapLeavesEveryNestedRoutineUpToItsRecovery) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  bool recovered = false;
  try {
    failing_step(err, 5);
  } catch (const Trap& trap) {
    recovered = trap.recovery == kSomeRecovery;
  }
  EXPECT_TRUE(recovered);
}

}  // namespace
}  // namespace mapsweep
