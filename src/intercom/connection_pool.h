// The connections of a process that hosts the application server. Code that runs inside the
// server does not dial out to itself: it borrows one of the server's own connections for one
// command and gives it back. The server registers its pool while it runs; a process with a
// registered pool is a hosting process.
#pragma once

#include <memory>

namespace zor {

class TIcConnection;

class TConnectionPool {
 public:
  virtual ~TConnectionPool() = default;
  // A connected connection for the caller alone until it is returned; raises when none can
  // be had (the server is not running, or it refused the connection).
  virtual TIcConnection& Borrow() = 0;
  // Gives back a borrowed connection; one that is no longer connected is dropped.
  virtual void Return(TIcConnection& connection) = 0;
};

// The process's pool, nullptr when no server is hosted here. Users keep the returned
// pointer for as long as they hold a connection of it, so unregistering never frees a pool
// under a running command.
std::shared_ptr<TConnectionPool> ProcessConnectionPool();
void SetProcessConnectionPool(std::shared_ptr<TConnectionPool> pool);

}  // namespace zor
