// The request to stop a long-running program from outside (SIGINT, SIGTERM): a server
// blocks them before it starts threads and then waits for one on its main thread.
#pragma once

namespace zor {

// Blocks the stop signals for the calling thread and every thread it starts afterwards.
void BlockStopSignals();
// Waits until a stop signal arrives (after `BlockStopSignals`); returns its number.
int WaitForStopSignal();
// Sends the process itself a stop signal (tests; a second way out of `WaitForStopSignal`).
void RaiseStopSignal();

}  // namespace zor
