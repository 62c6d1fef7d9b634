#include "base/life_object.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/lock_monitor.h"
#include "base/run_status.h"

namespace zor {

namespace detail {

// What the registry knows of one object. Waiters hold it by shared pointer, so they can
// go on looking at it after the object itself is gone.
struct LifeState {
  const TLifeObject* Object = nullptr;
  uint64_t Generation = 0;
  std::atomic<bool> Alive{true};   // false once release began
  std::atomic<bool> Freed{false};  // the object's memory is gone
  std::atomic<uint64_t> Owner{0};  // thread number of the lock holder, 0 when free
  int32_t LockCount = 0;           // touched by the owner only
};

}  // namespace detail

namespace {

using detail::LifeState;

struct Registry {
  std::mutex Lock;
  std::unordered_map<const void*, std::shared_ptr<LifeState>> Objects;
};

Registry& TheRegistry() {
  static auto* registry = new Registry;  // objects may be released during process exit
  return *registry;
}

std::atomic<uint64_t> gNextGeneration{1};
std::atomic<uint64_t> gNextThreadNumber{1};

// A number for the calling thread that is never 0 and never reused.
uint64_t ThreadNumber() {
  thread_local const uint64_t number = gNextThreadNumber.fetch_add(1);
  return number;
}

std::shared_ptr<LifeState> FindState(const void* object) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  const auto it = r.Objects.find(object);
  return it == r.Objects.end() ? nullptr : it->second;
}

[[noreturn]] void SilentAbort() {
  throw EAbort("Operation aborted!");
}

void AcquireOwner(LifeState& state, bool mustBeAlive) {
  Clock& clock = GetClock();
  const auto start = clock.Now();
  const uint64_t me = ThreadNumber();
  for (;;) {
    if (state.Freed.load() || (mustBeAlive && !state.Alive.load())) SilentAbort();
    uint64_t expected = 0;
    if (state.Owner.compare_exchange_strong(expected, me) || expected == me) break;
    if (MillisecondsSince(start) < kLockObjectFastPhaseMs) {
      clock.SleepFor(std::chrono::milliseconds(kLockObjectFastSleepMs));
    } else {
      clock.SleepFor(std::chrono::milliseconds(kLockObjectSlowSleepMs));
      if (MillisecondsSince(start) > kLockObjectGiveUpMs || GetRunStatus() == kRunStatusStopNow)
        SilentAbort();
    }
  }
  ++state.LockCount;
}

}  // namespace

TLifeObject::TLifeObject(std::string_view className)
    : Class(className),
      Name(Format("LifeObject: %s(0x%8X)",
                  {className, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(this))})),
      State(std::make_shared<LifeState>()) {
  State->Object = this;
  State->Generation = gNextGeneration.fetch_add(1);
  RegisterLock(Name, this, LockKind::LifeObject);
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  r.Objects[static_cast<const void*>(this)] = State;
}

TLifeObject::~TLifeObject() {
  try {
    BeforeDestruction();  // when the object was deleted without Release
  } catch (...) {
    // A give-up while waiting for the holder: the object ends anyway.
  }
  {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    r.Objects.erase(static_cast<const void*>(this));
  }
  State->Freed.store(true);
}

uint64_t TLifeObject::Generation() const {
  return State->Generation;
}

void TLifeObject::BeforeDestruction() {
  if (Destroying) return;
  Destroying = true;
  {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    State->Alive.store(false);
  }
  UnregisterLock(Name);
  AcquireOwner(*State, false);
}

void TLifeObject::Release() {
  BeforeDestruction();
  delete this;
}

bool IsAliveAddress(const void* object) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  const auto it = r.Objects.find(object);
  return it != r.Objects.end() && it->second->Alive.load();
}

bool IsAlive(const LifeRef& ref) {
  if (ref.Object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  const auto it = r.Objects.find(ref.Object);
  return it != r.Objects.end() && it->second->Alive.load() &&
         it->second->Generation == ref.Generation;
}

bool TestIfAlive(const void* object, const std::function<bool(const TLifeObject*)>& test) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard guard(r.Lock);
  const auto it = r.Objects.find(object);
  // Release marks the object dead under this lock before any destructor runs, so the
  // object is whole while the lock is held.
  return it != r.Objects.end() && it->second->Alive.load() && test(it->second->Object);
}

void LockObjectAddress(const void* object, bool mustBeAlive) {
  const std::shared_ptr<LifeState> state = FindState(object);
  if (!state) SilentAbort();
  AcquireOwner(*state, mustBeAlive);
}

void UnlockObjectAddress(const void* object) {
  const std::shared_ptr<LifeState> state = FindState(object);
  if (!state || state->Owner.load() != ThreadNumber()) return;
  if (--state->LockCount == 0) state->Owner.store(0);
}

}  // namespace zor
