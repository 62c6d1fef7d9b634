// The server's TCP listener: keeps one server-end TCP handler waiting on the listening
// address (shared with other handlers of that address) and hands every accepted peer to
// the server, on a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/server_listener.h"

namespace zor {

class TTCPHandler;
struct TListenRecord;

// Connections the system queues for the listener before it accepts them.
inline constexpr int kServerListenBacklog = 256;

class TTCPListener : public TServerListener {
 public:
  // `connectString` is the listener parameter string ("BoundPort=768;...").
  explicit TTCPListener(std::string connectString);
  ~TTCPListener() override;

  const char* ClassName() const override { return "TTCPHandler"; }
  std::string ConnectString() const override { return Text; }
  // Opens the listening socket at once (raising when it cannot), then accepts on a thread.
  void Start(TZORServer& server) override;
  void Stop() override;
  bool Running() const override { return IsRunning.load(); }

 private:
  void Loop(TZORServer& server);
  void Pause(std::chrono::milliseconds duration);

  std::string Text;
  std::unique_ptr<TTCPHandler> Waiting;
  std::shared_ptr<TListenRecord> Shared;
  std::mutex PauseLock;
  std::condition_variable PauseWake;
  std::atomic<bool> StopFlag{false};
  std::atomic<bool> IsRunning{false};
  std::thread Thread;
};

}  // namespace zor
