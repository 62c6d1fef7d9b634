#include "startup/launch/launch_outcome.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

TEST(LaunchOutcome, EachEndHasItsExitCodeAndTheFirstOneRecordedStands) {
  struct Case {
    TLaunchOutcome Outcome;
    int ExitCode;
  } const kCases[] = {
      {TLaunchOutcome::MainProgramStarted, 0},
      {TLaunchOutcome::HandedOver, 0},
      {TLaunchOutcome::JobDone, 0},
      {TLaunchOutcome::UpdateFailed, 1},
      {TLaunchOutcome::ReleaseRefused, 2},
      {TLaunchOutcome::Quit, 3},
      {TLaunchOutcome::NotRun, 4},
      {TLaunchOutcome::MainProgramNotStarted, 5},
      {TLaunchOutcome::Undecided, 5},
      {TLaunchOutcome::InstalledReleaseStarted, 6},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.Outcome));
    EXPECT_EQ(HeadlessExitCode(c.Outcome), c.ExitCode);
  }
  ResetLaunchOutcome();
  EXPECT_EQ(LaunchOutcome(), TLaunchOutcome::Undecided);
  // A self-update hands over, then quits the old launcher: still a hand-over.
  RecordLaunchOutcome(TLaunchOutcome::HandedOver);
  RecordLaunchOutcome(TLaunchOutcome::Quit);
  EXPECT_EQ(LaunchOutcome(), TLaunchOutcome::HandedOver);
  ResetLaunchOutcome();
}

}  // namespace
}  // namespace zor
