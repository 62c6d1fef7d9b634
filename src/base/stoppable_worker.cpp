#include "base/stoppable_worker.h"

namespace zor {

void TStoppableWorker::Start(Loop loop) {
  Stop();
  Thread = std::jthread([loop = std::move(loop)](std::stop_token stop) { loop(std::move(stop)); });
}

void TStoppableWorker::Stop() {
  if (!Thread.joinable()) return;
  Thread.request_stop();  // runs the callback of a pause in progress, which wakes it
  Thread.join();
}

bool TStoppableWorker::PauseUntil(const std::stop_token& stop, Clock::Steady::time_point deadline) {
  // Made before the lock is taken: when the stop was already asked for, the callback runs
  // at once, here, and takes the lock itself.
  const std::stop_callback wake(stop, [this] {
    std::lock_guard guard(Lock);
    Wake.notify_all();
  });
  std::unique_lock guard(Lock);
  return GetClock().WaitUntil(guard, Wake, deadline, [&] { return stop.stop_requested(); });
}

}  // namespace zor
