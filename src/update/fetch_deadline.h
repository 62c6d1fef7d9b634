// How long the data stream of one fetch may take in all. The per-read silence limit ends a
// server that stops sending, but one that sends a byte now and then (or a keep-alive) would
// hold the launcher for ever; so a stream also has a total time: a fixed allowance for a slow
// start plus its bytes at the slowest rate an honest link still has. Passing it closes the
// connection and fails the fetch with `kFetchTooSlowText`; what arrived is kept, and the
// next pass resumes from there.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "transport/io_handler.h"

namespace zor {

inline constexpr std::chrono::seconds kFetchAllowance{120};
inline constexpr int64_t kFetchMinimumBytesPerSecond = 4096;

inline constexpr std::string_view kFetchTooSlowText =
    "The server took more than %d seconds to send the %d bytes of %s (less than 4 KiB a "
    "second); the transfer was stopped and resumes from there next time.";

// The total time a stream of `bytes` may take: the allowance and the bytes at the minimum
// rate, rounded up to whole seconds.
std::chrono::seconds FetchTimeLimit(int64_t bytes);

// Sets the read deadline of `handler` for one stream of `bytes` and clears it again when it
// goes out of scope.
class TFetchDeadline {
 public:
  TFetchDeadline(TIcIOHandler& handler, int64_t bytes);
  ~TFetchDeadline();
  TFetchDeadline(const TFetchDeadline&) = delete;
  TFetchDeadline& operator=(const TFetchDeadline&) = delete;

  // Whether the process clock has reached the deadline (a failed read was its doing).
  bool Passed() const;
  std::chrono::seconds Limit() const { return TimeLimit; }

 private:
  TIcIOHandler& Handler;
  std::chrono::seconds TimeLimit;
  std::chrono::steady_clock::time_point Deadline;
};

}  // namespace zor
