// What the TCP and the pipe listener share: one server-end handler kept waiting on a
// listening socket shared by its name, a thread that hands every accepted client to the
// server and opens the next waiting end, and a stop that ends the thread promptly.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "base/stoppable_worker.h"
#include "server/server_listener.h"

namespace zor {

class TSocketHandler;
struct TListenRecord;

// Connections the system queues for a listener before it accepts them.
inline constexpr int kServerListenBacklog = 256;

class TAcceptLoopListener : public TServerListener {
 public:
  std::string ConnectString() const override { return Text; }
  void Stop() override;
  bool Running() const override { return IsRunning.load(); }

 protected:
  // `logTag` names the listener kind in the server's log ("TCP", "Pipe").
  TAcceptLoopListener(std::string connectString, std::string logTag);
  // Derived destructors call Stop() first: the loop uses NewWaitingEnd().
  ~TAcceptLoopListener() override;

  // A server end of this listener's connect string, not yet opened.
  virtual std::unique_ptr<TSocketHandler> NewWaitingEnd() const = 0;
  // Opens the first waiting end (the listening socket is already in Shared, or absent when
  // the handler listens on its own), then starts the accept thread. Raises and leaves the
  // listener stopped when the end cannot be opened.
  void StartAccepting(TZORServer& server);

  std::string Text;
  std::unique_ptr<TSocketHandler> Waiting;
  std::shared_ptr<TListenRecord> Shared;

 private:
  void Loop(TZORServer& server, const std::stop_token& stop);

  std::string LogTag;
  std::atomic<bool> IsRunning{false};
  TStoppableWorker Worker;
};

}  // namespace zor
