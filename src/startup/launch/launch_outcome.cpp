#include "startup/launch/launch_outcome.h"

#include <atomic>

namespace zor {
namespace {
std::atomic<TLaunchOutcome> gOutcome{TLaunchOutcome::Undecided};
}  // namespace

void RecordLaunchOutcome(TLaunchOutcome outcome) {
  TLaunchOutcome expected = TLaunchOutcome::Undecided;
  gOutcome.compare_exchange_strong(expected, outcome);
}

TLaunchOutcome LaunchOutcome() {
  return gOutcome.load();
}

void ResetLaunchOutcome() {
  gOutcome.store(TLaunchOutcome::Undecided);
}

int HeadlessExitCode(TLaunchOutcome outcome) {
  switch (outcome) {
    case TLaunchOutcome::MainProgramStarted:
    case TLaunchOutcome::HandedOver:
    case TLaunchOutcome::JobDone:
      return 0;
    case TLaunchOutcome::UpdateFailed:
      return 1;
    case TLaunchOutcome::ReleaseRefused:
      return 2;
    case TLaunchOutcome::Quit:
      return 3;
    case TLaunchOutcome::NotRun:
      return 4;
    case TLaunchOutcome::InstalledReleaseStarted:
      return 6;
    case TLaunchOutcome::MainProgramNotStarted:
    case TLaunchOutcome::Undecided:
      break;
  }
  return 5;
}

}  // namespace zor
