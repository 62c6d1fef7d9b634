// The live sessions of a server by id: new sessions get a fresh random id, detached
// sessions wait for their client until their grace time ends, and the number of transports
// served at once is counted against the connection limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "server/server_session.h"

namespace zor {

class TSessionTable {
 public:
  std::shared_ptr<TServerSession> Create(std::unique_ptr<TIcServerConnection> connection);
  std::shared_ptr<TServerSession> Find(uint32_t id) const;
  void Remove(uint32_t id);
  std::vector<std::shared_ptr<TServerSession>> All() const;
  // Removes detached sessions whose grace time has ended at `now`; returns how many.
  size_t Sweep(std::chrono::steady_clock::time_point now);
  size_t Size() const;

 private:
  mutable std::mutex Lock;
  std::map<uint32_t, std::shared_ptr<TServerSession>> Sessions;
  // Each id comes from the system's random source: one id never tells anything about another.
  std::random_device Random;
};

}  // namespace zor
