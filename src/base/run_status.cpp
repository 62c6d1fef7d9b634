#include "base/run_status.h"

#include "base/exceptions.h"

namespace zor {
namespace {
thread_local int32_t tRunStatus = kRunStatusNone;
}

int32_t GetRunStatus() {
  return tRunStatus;
}

int32_t SetRunStatus(int32_t status) {
  const int32_t previous = tRunStatus;
  if (previous != kRunStatusStopNow) tRunStatus = status;
  return previous;
}

void CheckRunStatus() {
  if (tRunStatus > kRunStatusQuiet) throw EAbort("Operation aborted!");
}

}  // namespace zor
