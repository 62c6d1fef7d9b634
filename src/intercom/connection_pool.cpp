#include "intercom/connection_pool.h"

#include <mutex>
#include <utility>

namespace zor {
namespace {

std::mutex gPoolLock;
std::shared_ptr<TConnectionPool> gPool;

}  // namespace

std::shared_ptr<TConnectionPool> ProcessConnectionPool() {
  std::lock_guard guard(gPoolLock);
  return gPool;
}

void SetProcessConnectionPool(std::shared_ptr<TConnectionPool> pool) {
  std::shared_ptr<TConnectionPool> previous;
  {
    std::lock_guard guard(gPoolLock);
    previous = std::exchange(gPool, std::move(pool));
  }
}

}  // namespace zor
