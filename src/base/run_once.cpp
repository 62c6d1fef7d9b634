#include "base/run_once.h"

#include <chrono>
#include <thread>

#include "base/clock.h"

namespace zor {

namespace {
// Marks the cell while a thread runs the initializer; never a valid object address.
void* const kInitializing = reinterpret_cast<void*>(static_cast<uintptr_t>(1));
constexpr std::chrono::milliseconds kInitializingPoll{5};
}  // namespace

void* RunOnce(std::atomic<void*>& state, const std::function<void*()>& initializer) {
  for (;;) {
    void* current = nullptr;
    if (state.compare_exchange_strong(current, kInitializing, std::memory_order_acq_rel)) {
      try {
        void* result = initializer();
        state.store(result, std::memory_order_release);
        return result;
      } catch (...) {
        state.store(nullptr, std::memory_order_release);
        throw;
      }
    }
    if (current != kInitializing) return current;
    std::this_thread::yield();
    GetClock().SleepFor(kInitializingPoll);
  }
}

}  // namespace zor
