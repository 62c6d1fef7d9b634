// The UDP name service: answers the 256-byte lookup requests that clients send to find a
// server by its registered name, from a names table, on a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/stoppable_worker.h"
#include "server/name_table.h"
#include "server/server_log.h"

namespace zor {

class TNameServiceResponder {
 public:
  TNameServiceResponder(TServerLog& log, TNameTable names);
  ~TNameServiceResponder();
  TNameServiceResponder(const TNameServiceResponder&) = delete;
  TNameServiceResponder& operator=(const TNameServiceResponder&) = delete;

  // Binds `bindAddress` ("" for every address) and `port` (0 picks a free one) and starts
  // answering; raises `Exception` when the port cannot be bound.
  void Start(const std::string& bindAddress, uint16_t port);
  void Stop();
  uint16_t Port() const { return BoundPort; }
  // Replaces the table (a reload of the names file).
  void SetNames(TNameTable names);
  uint64_t Answered() const { return AnswerCount.load(); }

 private:
  void Loop(const std::stop_token& stop);

  TServerLog& Log;
  std::mutex NamesLock;
  std::shared_ptr<const TNameTable> Names;
  int Socket = -1;
  uint16_t BoundPort = 0;
  std::atomic<uint64_t> AnswerCount{0};
  TStoppableWorker Worker;
};

}  // namespace zor
