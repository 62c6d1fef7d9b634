// The start window's StartEvent: a manual-reset event the update worker waits on until the
// time for F1 has run out or the server settings changed. Once signalled it stays signalled
// until reset.
#pragma once

#include <condition_variable>
#include <mutex>

namespace zor {

class TStartEvent {
 public:
  void Set() {
    {
      std::lock_guard guard(Lock);
      Signalled = true;
    }
    Changed.notify_all();
  }
  void Reset() {
    std::lock_guard guard(Lock);
    Signalled = false;
  }
  bool IsSet() {
    std::lock_guard guard(Lock);
    return Signalled;
  }
  // Waits without time-out.
  void Wait() {
    std::unique_lock guard(Lock);
    Changed.wait(guard, [this] { return Signalled; });
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  bool Signalled = false;
};

}  // namespace zor
