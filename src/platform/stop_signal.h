// The requests a long-running program takes from outside: stop at once (SIGINT), stop after
// the running work (SIGTERM, what a service manager sends) and reload (SIGHUP: read the
// served folders again, reopen the log file after a rotation). A server blocks them before
// it starts threads and then waits for them on its main thread.
#pragma once

namespace zor {

enum class ServiceSignal { Stop, Drain, Reload };

// Blocks the stop and reload signals for the calling thread and every thread it starts afterwards.
void BlockStopSignals();
// Waits until a stop or a reload signal arrives (after `BlockStopSignals`); `number` gets
// the signal's number.
ServiceSignal WaitForServiceSignal(int& number);

}  // namespace zor
