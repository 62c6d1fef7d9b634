// The calling thread's run status: 0 none attached, 1 busy in a wait, above 1 periodic
// callbacks stay quiet, above 2 a stop was requested, 4 stop now (never overwritten).
#pragma once

#include <cstdint>

namespace zor {

inline constexpr int32_t kRunStatusNone = 0;
inline constexpr int32_t kRunStatusWaiting = 1;
inline constexpr int32_t kRunStatusQuiet = 2;
inline constexpr int32_t kRunStatusStopRequested = 3;
inline constexpr int32_t kRunStatusStopNow = 4;

int32_t GetRunStatus();
// Stores `status` unless the current one is 4; returns the previous value.
int32_t SetRunStatus(int32_t status);
// Ends the current operation with a silent abort when the status is above 2.
void CheckRunStatus();

// Marks the thread as busy in a wait while alive and puts the previous status back on the
// way out, unless a stop was requested meanwhile (that request must outlive the wait).
class ScopedWaitingStatus {
 public:
  ScopedWaitingStatus() : Previous(SetRunStatus(kRunStatusWaiting)) {}
  ~ScopedWaitingStatus() {
    if (GetRunStatus() == kRunStatusWaiting) SetRunStatus(Previous);
  }
  ScopedWaitingStatus(const ScopedWaitingStatus&) = delete;
  ScopedWaitingStatus& operator=(const ScopedWaitingStatus&) = delete;

 private:
  int32_t Previous;
};

}  // namespace zor
