#include "server/server_connection_pool.h"

#include <algorithm>
#include <utility>

#include "intercom/scrambling.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "transport/memory_pipe_handler.h"

namespace zor {
namespace {

void LogOff(std::unique_ptr<TIcClientConnection> connection) noexcept {
  try {
    connection->Disconnect();
  } catch (...) {
    // The session ends on the server when its transport closes, logoff notice or not.
  }
}

}  // namespace

TServerConnectionPool::TServerConnectionPool(TZORServer& server, size_t maxIdle)
    : Server(server), MaxIdle(maxIdle) {}

TServerConnectionPool::~TServerConnectionPool() {
  Close();
  std::vector<std::unique_ptr<TIcClientConnection>> lent;
  {
    std::lock_guard guard(Lock);
    lent.swap(Lent);
  }
  for (auto& connection : lent) LogOff(std::move(connection));
}

TIcConnection& TServerConnectionPool::Borrow() {
  std::vector<std::unique_ptr<TIcClientConnection>> stale;
  {
    std::lock_guard guard(Lock);
    if (Closed) throw Exception(std::string(kTextNotActive));
    while (!Idle.empty()) {
      std::unique_ptr<TIcClientConnection> connection = std::move(Idle.back());
      Idle.pop_back();
      if (connection->Connected()) {
        Lent.push_back(std::move(connection));
        return *Lent.back();
      }
      stale.push_back(std::move(connection));
    }
  }
  stale.clear();
  std::unique_ptr<TIcClientConnection> connection = Open();
  std::lock_guard guard(Lock);
  if (Closed) throw Exception(std::string(kTextNotActive));
  Lent.push_back(std::move(connection));
  return *Lent.back();
}

void TServerConnectionPool::Return(TIcConnection& connection) {
  std::unique_ptr<TIcClientConnection> leaving;
  {
    std::lock_guard guard(Lock);
    auto it = std::find_if(Lent.begin(), Lent.end(),
                           [&](const auto& lent) { return lent.get() == &connection; });
    if (it == Lent.end()) return;
    std::unique_ptr<TIcClientConnection> returned = std::move(*it);
    Lent.erase(it);
    if (!Closed && Idle.size() < MaxIdle && returned->Connected()) {
      Idle.push_back(std::move(returned));
      return;
    }
    leaving = std::move(returned);
  }
  LogOff(std::move(leaving));
}

void TServerConnectionPool::Close() {
  std::vector<std::unique_ptr<TIcClientConnection>> idle;
  {
    std::lock_guard guard(Lock);
    Closed = true;
    idle.swap(Idle);
  }
  for (auto& connection : idle) LogOff(std::move(connection));
}

size_t TServerConnectionPool::IdleCount() const {
  std::lock_guard guard(Lock);
  return Idle.size();
}

size_t TServerConnectionPool::LentCount() const {
  std::lock_guard guard(Lock);
  return Lent.size();
}

std::unique_ptr<TIcClientConnection> TServerConnectionPool::Open() {
  Server.CheckActive(true);
  auto [clientEnd, serverEnd] = MakeMemoryPipe();
  // A server that is stopping frees the server end at once; the connect below then fails.
  Server.AcceptTransport(std::move(serverEnd));
  const bool scramble = Server.SessionSettings().Scramble;
  auto connection = scramble ? std::make_unique<TIcClientConnection>(
                                   DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt)
                             : std::make_unique<TIcClientConnection>();
  std::unique_ptr<TIcIOHandler> transport = std::move(clientEnd);
  connection->Connect(
      [&transport](const std::string&, int32_t, int32_t) { return std::move(transport); }, "");
  return connection;
}

TScopedServerConnectionPool::TScopedServerConnectionPool(TZORServer& server, size_t maxIdle)
    : PoolPtr(std::make_shared<TServerConnectionPool>(server, maxIdle)) {
  SetProcessConnectionPool(PoolPtr);
}

TScopedServerConnectionPool::~TScopedServerConnectionPool() {
  if (ProcessConnectionPool() == PoolPtr) SetProcessConnectionPool(nullptr);
  PoolPtr->Close();
}

}  // namespace zor
