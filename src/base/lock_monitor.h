// The process-wide register of named locks, kept for diagnosis: every thread list, life
// object and other long-lived lock that has a name is entered here, sorted by name without
// regard to case, so a tool can list what exists. A name may be registered only once.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

enum class LockKind : int32_t { CriticalSection = 0, ThreadList = 1, Other = 2, LifeObject = 3 };

struct LockEntry {
  std::string Name;
  LockKind Kind = LockKind::Other;
  const void* LockObject = nullptr;
};

class TLockMonitor {
 public:
  // Adds an entry; a name already present (in any case) raises
  // "The lock name [%s] already exist!".
  void RegisterLock(std::string_view name, const void* object, LockKind kind);
  // Removes the entry of that name; a name not present is ignored.
  void UnregisterLock(std::string_view name);
  bool Contains(std::string_view name) const;
  // A copy of the entries, in name order.
  std::vector<LockEntry> Snapshot() const;

 private:
  // Index of the first entry not below `name`.
  size_t LowerBound(std::string_view name) const;

  mutable std::mutex Lock;
  std::vector<LockEntry> Entries;  // sorted by name, case-insensitively
};

// The monitor of the process. Created on first use with the global lock registered as
// "SystemLock"; never destroyed, so objects freed during process exit can still unregister.
TLockMonitor& LockMonitor();

inline constexpr std::string_view kSystemLockName = "SystemLock";

// The library's global lock (re-entrant), which guards the thread-data bitmap and other
// small process-wide tables.
std::recursive_mutex& GlobalLock();

inline void RegisterLock(std::string_view name, const void* object, LockKind kind) {
  LockMonitor().RegisterLock(name, object, kind);
}
inline void UnregisterLock(std::string_view name) {
  LockMonitor().UnregisterLock(name);
}

}  // namespace zor
