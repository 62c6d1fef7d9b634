// The server's periodic status line in its log while clients use it: connections, bytes of
// files served and files packed since the start. Quiet while nobody is connected and
// nothing was served since the last line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "base/clock.h"
#include "base/stoppable_worker.h"
#include "server/server_log.h"

namespace zor {

// How often the line is written while clients are connected.
inline constexpr std::chrono::minutes kStatusInterval{5};

struct TServerStatus {
  int32_t Connections = 0;
  int64_t BytesServed = 0;
  int64_t FilesPacked = 0;
};

// "2 connections, 1048576 bytes served, 3 files packed" (the log tags it "Status")
std::string StatusLine(const TServerStatus& status);

class TStatusReporter {
 public:
  using Source = std::function<TServerStatus()>;

  TStatusReporter(TServerLog& log, Source source,
                  std::chrono::milliseconds interval = kStatusInterval);
  ~TStatusReporter();
  TStatusReporter(const TStatusReporter&) = delete;
  TStatusReporter& operator=(const TStatusReporter&) = delete;

  // Reports every interval on a thread of its own until `Stop`.
  void Start();
  void Stop();
  // One look at the status: writes the line when clients are connected or bytes were served
  // since the last look. Answers whether it wrote.
  bool Report();

 private:
  void Loop(const std::stop_token& stop, Clock::Steady::time_point due);

  TServerLog& Log;
  Source Status;
  std::chrono::milliseconds Interval;
  std::atomic<int64_t> LastBytes{0};
  std::mutex Lock;  // of Start and Stop
  TStoppableWorker Worker;
};

}  // namespace zor
