#include "base/lock_monitor.h"

#include "base/ascii_case.h"
#include "base/exceptions.h"
#include "base/format.h"

namespace zor {

size_t TLockMonitor::LowerBound(std::string_view name) const {
  size_t lo = 0, hi = Entries.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (CompareTextAscii(Entries[mid].Name, name) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

void TLockMonitor::RegisterLock(std::string_view name, const void* object, LockKind kind) {
  std::lock_guard guard(Lock);
  const size_t at = LowerBound(name);
  if (at < Entries.size() && SameTextAscii(Entries[at].Name, name))
    throw Exception(Format("The lock name [%s] already exist!", {name}));
  Entries.insert(Entries.begin() + static_cast<std::ptrdiff_t>(at),
                 LockEntry{std::string(name), kind, object});
}

void TLockMonitor::UnregisterLock(std::string_view name) {
  std::lock_guard guard(Lock);
  const size_t at = LowerBound(name);
  if (at < Entries.size() && SameTextAscii(Entries[at].Name, name))
    Entries.erase(Entries.begin() + static_cast<std::ptrdiff_t>(at));
}

bool TLockMonitor::Contains(std::string_view name) const {
  std::lock_guard guard(Lock);
  const size_t at = LowerBound(name);
  return at < Entries.size() && SameTextAscii(Entries[at].Name, name);
}

std::vector<LockEntry> TLockMonitor::Snapshot() const {
  std::lock_guard guard(Lock);
  return Entries;
}

std::recursive_mutex& GlobalLock() {
  static auto* lock = new std::recursive_mutex;  // never freed: used until the last exit handler
  return *lock;
}

TLockMonitor& LockMonitor() {
  static TLockMonitor* monitor = [] {
    auto* m = new TLockMonitor;
    m->RegisterLock(kSystemLockName, &GlobalLock(), LockKind::CriticalSection);
    return m;
  }();
  return *monitor;
}

}  // namespace zor
