// The server's own connections for code that runs inside the server process. Each pooled
// connection is a client connection joined to the server through an in-memory pipe: it
// opens a session like any client (greeting, logon) and its commands take the same routing,
// so in-process callers see exactly what remote clients see. Idle connections are kept for
// the next borrower, up to a limit.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "intercom/client_connection.h"
#include "intercom/connection_pool.h"

namespace zor {

class TZORServer;

class TServerConnectionPool : public TConnectionPool {
 public:
  explicit TServerConnectionPool(TZORServer& server, size_t maxIdle = 8);
  ~TServerConnectionPool() override;
  TServerConnectionPool(const TServerConnectionPool&) = delete;
  TServerConnectionPool& operator=(const TServerConnectionPool&) = delete;

  // An idle connection, or a new one when none is idle; raises "The server is not actived!"
  // when the server is not running or the pool was closed.
  TIcConnection& Borrow() override;
  // Keeps the connection for the next borrower while it is connected and fewer than the
  // limit are idle; otherwise logs it off.
  void Return(TIcConnection& connection) override;
  // Logs off the idle connections; borrowed ones are logged off as they come back, and no
  // borrow succeeds any more.
  void Close();

  size_t IdleCount() const;
  size_t LentCount() const;

 private:
  std::unique_ptr<TIcClientConnection> Open();

  TZORServer& Server;
  const size_t MaxIdle;
  mutable std::mutex Lock;
  bool Closed = false;
  std::vector<std::unique_ptr<TIcClientConnection>> Idle;
  std::vector<std::unique_ptr<TIcClientConnection>> Lent;
};

// Registers a pool of `server` as the process's pool for its lifetime; on the way out it
// unregisters and closes it before the server stops.
class TScopedServerConnectionPool {
 public:
  explicit TScopedServerConnectionPool(TZORServer& server, size_t maxIdle = 8);
  ~TScopedServerConnectionPool();
  TScopedServerConnectionPool(const TScopedServerConnectionPool&) = delete;
  TScopedServerConnectionPool& operator=(const TScopedServerConnectionPool&) = delete;

  TServerConnectionPool& Pool() { return *PoolPtr; }

 private:
  std::shared_ptr<TServerConnectionPool> PoolPtr;
};

}  // namespace zor
