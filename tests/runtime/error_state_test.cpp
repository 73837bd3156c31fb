// The error state: which failures reach a recovery, and what a check leaves behind.
#include "runtime/error_state.h"

#include <gtest/gtest.h>

namespace mapsweep {
namespace {

constexpr RecoveryLabel kSomeRecovery = 3;

TEST(ErrorState, AFailureWithoutRecoveryLeavesNoTrace) {
  ErrorState err;
  err.raise_error(53);
  EXPECT_NO_THROW(err.check_error());
  EXPECT_FALSE(err.pending());
  EXPECT_NO_THROW(err.check_error()) << "a later check finds the flag clear";
  EXPECT_EQ(err.number(), 53);
}

TEST(ErrorState, TwoFailuresInOneStatementTrapOnceWithTheSecondNumber) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  err.raise_error(62);
  err.raise_error(75);
  try {
    err.check_error();
    FAIL() << "the check must continue at the recovery";
  } catch (const Trap& trap) {
    EXPECT_EQ(trap.recovery, kSomeRecovery);
  }
  EXPECT_EQ(err.number(), 75);
  EXPECT_NO_THROW(err.check_error());
}

TEST(ErrorState, ArmingDiscardsAPendingFailureButKeepsItsNumber) {
  ErrorState err;
  err.raise_error(70);
  err.arm_recovery(kSomeRecovery);
  EXPECT_FALSE(err.pending());
  EXPECT_NO_THROW(err.check_error());
  EXPECT_EQ(err.number(), 70);
}

TEST(ErrorState, TheRecoveryStaysArmedAfterATrap) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  err.raise_error(7);
  EXPECT_THROW(err.check_error(), Trap);
  err.raise_error(7);
  EXPECT_THROW(err.check_error(), Trap) << "a failure inside the recovery comes back to it";
  EXPECT_EQ(err.armed(), kSomeRecovery);
}

TEST(ErrorState, NumberZeroIsRecordedAsFiftyOne) {
  ErrorState err;
  err.raise_error(0);
  EXPECT_EQ(err.number(), 51);
  EXPECT_TRUE(err.pending());
}

TEST(ErrorState, ClearAndResetDifferInWhatTheyKeep) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  err.raise_error(53);
  err.clear_error();
  EXPECT_EQ(err.number(), 53);
  err.raise_error(53);
  err.reset();
  EXPECT_FALSE(err.pending());
  EXPECT_EQ(err.number(), 0);
  EXPECT_EQ(err.armed(), kSomeRecovery);
}

TEST(ErrorState, TakeFailureReportsAndDropsWithoutTrapping) {
  ErrorState err;
  err.arm_recovery(kSomeRecovery);
  EXPECT_FALSE(err.take_failure());
  err.raise_error(76);
  EXPECT_TRUE(err.take_failure());
  EXPECT_NO_THROW(err.check_error());
}

// A recovery continues where its catch stands, however deep the failing step was.
void failing_step(ErrorState& err, int depth) {
  if (depth > 0) return failing_step(err, depth - 1);
  err.raise_error(61);
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
