// How a run of the launcher ended, for the exit status of a run without a person: scripts
// and service managers learn from it whether the main program was started. A window run
// keeps exit status 0 whatever happened (the person saw why).
//   0  the main program was started, a new launcher took over (self-update), or a one-shot
//      job ("/UnInstall", "/ReCopy") ran
//   1  the update failed on every pass it was given
//   2  the last failed pass refused the server's release (signed releases)
//   3  the application was quit (the settings dialog's Quit)
//   4  the launcher did not run: the main program runs already, or a restart is pending
//   5  the update ended but the main program could not be started (missing or failed), or
//      the run ended in any other way without starting it
//   6  the update failed, and the release installed before, unchanged since it was verified,
//      was started instead (signed releases only)
#pragma once

namespace zor {

enum class TLaunchOutcome {
  Undecided,
  MainProgramStarted,
  HandedOver,
  JobDone,
  UpdateFailed,
  ReleaseRefused,
  Quit,
  NotRun,
  MainProgramNotStarted,
  InstalledReleaseStarted,
};

// Records how the run ends; the first outcome recorded stands (a quit after a self-update
// handed over is still a hand-over).
void RecordLaunchOutcome(TLaunchOutcome outcome);
TLaunchOutcome LaunchOutcome();
// Back to undecided (tests).
void ResetLaunchOutcome();

// The exit status of a run without a person (see above).
int HeadlessExitCode(TLaunchOutcome outcome);

}  // namespace zor
