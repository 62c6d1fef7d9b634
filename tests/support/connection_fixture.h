// A client connection and a server connection joined by the in-memory pipe, on a manual clock
// (every pause and sleep of the layer is instant). The server side runs a script on its own
// thread; the client side runs on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

#include "base/clock.h"
#include "intercom/ic_connection.h"
#include "support/expect_error.h"
#include "transport/memory_pipe_handler.h"

namespace zor::testing {

// A connection with the server's stream magic.
class TTestServerConnection : public TIcConnection {
 public:
  using TIcConnection::TIcConnection;
  const char* ClassName() const override { return "TTestServerConnection"; }
  bool IsServerSide() override { return true; }
};

class ConnectionFixture : public ::testing::Test {
 protected:
  ConnectionFixture() : Clock(), Scope(Clock) {}
  ~ConnectionFixture() override { JoinServer(); }

  // Joins a fresh pipe; the raw ends stay reachable for byte-level checks.
  void Join(TIcConnection& client, TIcConnection& server) {
    auto [a, b] = MakeMemoryPipe();
    ClientEnd = a.get();
    ServerEnd = b.get();
    client.SetHandler(std::move(a));
    server.SetHandler(std::move(b));
    server.ShortStreamMagic = 1;
  }

  void RunServer(std::function<void()> script) {
    JoinServer();
    ServerThread = std::thread([this, script = std::move(script)] {
      try {
        script();
      } catch (const std::exception& e) {
        ServerFailure = e.what();
      }
    });
  }

  void JoinServer() {
    if (ServerThread.joinable()) ServerThread.join();
    if (!ServerFailure.empty()) {
      ADD_FAILURE() << "server script failed: " << ServerFailure;
      ServerFailure.clear();
    }
  }

  int64_t ElapsedMs(Clock::Steady::time_point start) { return MillisecondsSince(start); }

  ManualClock Clock;
  ScopedClock Scope;
  TMemoryPipeHandler* ClientEnd = nullptr;
  TMemoryPipeHandler* ServerEnd = nullptr;
  std::thread ServerThread;
  std::string ServerFailure;
};

}  // namespace zor::testing
