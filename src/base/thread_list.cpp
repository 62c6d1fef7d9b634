#include "base/thread_list.h"

#include "base/lock_monitor.h"

namespace zor {

namespace {
constexpr int kShortSpin = 200;
constexpr int kLongSpin = 1000;
}  // namespace

TZORThreadListLock::TZORThreadListLock(std::string_view name, ListSpin spin)
    : Name(name),
      SpinCount(spin == ListSpin::Short  ? kShortSpin
                : spin == ListSpin::Long ? kLongSpin
                                         : 0) {
  if (!Name.empty()) RegisterLock(Name, this, LockKind::ThreadList);
}

TZORThreadListLock::~TZORThreadListLock() {
  if (!Name.empty()) UnregisterLock(Name);
}

void TZORThreadListLock::Enter() {
  for (int i = 0; i < SpinCount; ++i)
    if (Mutex.try_lock()) return;
  Mutex.lock();
}

}  // namespace zor
