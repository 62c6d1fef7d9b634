#include "update/fetch_deadline.h"

#include <algorithm>

#include "base/clock.h"

namespace zor {

std::chrono::seconds FetchTimeLimit(int64_t bytes) {
  const int64_t counted = std::max<int64_t>(bytes, 0);
  return kFetchAllowance + std::chrono::seconds((counted + kFetchMinimumBytesPerSecond - 1) /
                                                kFetchMinimumBytesPerSecond);
}

TFetchDeadline::TFetchDeadline(TIcIOHandler& handler, int64_t bytes)
    : Handler(handler), TimeLimit(FetchTimeLimit(bytes)), Deadline(GetClock().Now() + TimeLimit) {
  Handler.SetReadDeadline(Deadline);
}

TFetchDeadline::~TFetchDeadline() {
  Handler.SetReadDeadline(std::nullopt);
}

bool TFetchDeadline::Passed() const {
  return GetClock().Now() >= Deadline;
}

}  // namespace zor
