#include "server/session_table.h"

namespace zor {

std::shared_ptr<TServerSession> TSessionTable::Create(
    std::unique_ptr<TIcServerConnection> connection) {
  std::lock_guard guard(Lock);
  uint32_t id = 0;
  // Ids are not guessable in sequence and never 0 (0 means "no session" to a client).
  while (id == 0 || Sessions.count(id)) id = static_cast<uint32_t>(Random());
  auto session = std::make_shared<TServerSession>(id, std::move(connection));
  Sessions.emplace(id, session);
  return session;
}

std::shared_ptr<TServerSession> TSessionTable::Find(uint32_t id) const {
  std::lock_guard guard(Lock);
  auto it = Sessions.find(id);
  return it == Sessions.end() ? nullptr : it->second;
}

void TSessionTable::Remove(uint32_t id) {
  std::shared_ptr<TServerSession> removed;
  {
    std::lock_guard guard(Lock);
    auto it = Sessions.find(id);
    if (it == Sessions.end()) return;
    removed = std::move(it->second);
    Sessions.erase(it);
  }
  // The session (and its connection) may outlive this call in a runner that still holds it.
}

std::vector<std::shared_ptr<TServerSession>> TSessionTable::All() const {
  std::lock_guard guard(Lock);
  std::vector<std::shared_ptr<TServerSession>> all;
  for (const auto& [id, session] : Sessions) all.push_back(session);
  return all;
}

size_t TSessionTable::Sweep(std::chrono::steady_clock::time_point now) {
  std::vector<std::shared_ptr<TServerSession>> expired;
  {
    std::lock_guard guard(Lock);
    for (auto it = Sessions.begin(); it != Sessions.end();) {
      TServerSession& session = *it->second;
      std::lock_guard sessionGuard(session.Lock);
      if (session.State == SessionState::Detached && session.DetachedUntil <= now) {
        expired.push_back(std::move(it->second));
        it = Sessions.erase(it);
      } else {
        ++it;
      }
    }
  }
  return expired.size();
}

size_t TSessionTable::Size() const {
  std::lock_guard guard(Lock);
  return Sessions.size();
}

}  // namespace zor
