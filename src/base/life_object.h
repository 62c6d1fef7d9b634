// Objects that can be asked whether a pointer to them is still alive, and that carry a
// re-entrant owner lock which gives up when the object dies. Alive-ness is answered from a
// process-wide registry of live objects, so asking about a freed object never touches its
// memory. Each object is also entered in the lock monitor as
// "LifeObject: <class>(0x<address, at least 8 hex digits>)".
//
// A freed object's address can be handed to a new object. The registry answers for the
// address, so a bare pointer to the old object then looks alive again; callers that keep
// a pointer across a possible free keep a `LifeRef` instead, whose generation number tells
// the two objects apart for certain. (This replaces placing each object at a random spot
// of a larger block, which only made the reuse of an address rare.)
//
// TLifeObject must be the first base of a class, so that a pointer to the class and to the
// TLifeObject part are the same address; objects end through `Release`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zor {

namespace detail {
struct LifeState;
}

class TLifeObject;

// A pointer to a life object together with the generation it had; stays false-alive
// after the object is freed even when another object later takes the same address.
struct LifeRef {
  const void* Object = nullptr;
  uint64_t Generation = 0;
};

class TLifeObject {
 public:
  // `className` is the name shown in the lock monitor ("TTCPHandler").
  explicit TLifeObject(std::string_view className);
  TLifeObject(const TLifeObject&) = delete;
  TLifeObject& operator=(const TLifeObject&) = delete;

  // Destroys the object: it stops being alive (waiters that need it alive give up), its
  // monitor entry goes, the owner lock is taken without the alive check (so a holder
  // finishes first), then it is freed. Nothing happens for nullptr.
  static void Release(TLifeObject* object) {
    if (object != nullptr) object->Release();
  }
  void Release();

  const std::string& ClassName() const { return Class; }
  const std::string& LockName() const { return Name; }
  uint64_t Generation() const;
  LifeRef Ref() const { return LifeRef{this, Generation()}; }

 protected:
  virtual ~TLifeObject();

 private:
  void BeforeDestruction();

  std::string Class;
  std::string Name;
  std::shared_ptr<detail::LifeState> State;
  bool Destroying = false;
};

// True when the address is that of a live object (one not yet released).
bool IsAliveAddress(const void* object);
template <class T>
bool IsAlive(const T* object) {
  return IsAliveAddress(static_cast<const void*>(object));
}
bool IsAlive(const LifeRef& ref);

// Runs `test` on the object while it is kept from being released; false when not alive.
bool TestIfAlive(const void* object, const std::function<bool(const TLifeObject*)>& test);
// Alive and of class T or a descendant.
template <class T, class P>
bool IsAliveAs(const P* object) {
  return TestIfAlive(static_cast<const void*>(object),
                     [](const TLifeObject* o) { return dynamic_cast<const T*>(o) != nullptr; });
}

// Takes the object's owner lock for the calling thread (re-entrant). Tries every 5 ms for
// the first 3000 ms, then every 100 ms; gives up with a silent abort (EAbort) after more
// than 600000 ms, when the thread's run status becomes 4, when `mustBeAlive` is set and
// the object is no longer alive, and whenever the object has been freed (a freed or
// foreign address is never locked).
void LockObjectAddress(const void* object, bool mustBeAlive);
template <class T>
void LockObject(T* object, bool mustBeAlive) {
  LockObjectAddress(static_cast<const void*>(object), mustBeAlive);
}
// By the owner only: one level less, free at 0. Calls from other threads do nothing.
void UnlockObjectAddress(const void* object);
template <class T>
void UnlockObject(T* object) {
  UnlockObjectAddress(static_cast<const void*>(object));
}

// Owner-lock time limits.
inline constexpr int64_t kLockObjectFastPhaseMs = 3000;
inline constexpr int64_t kLockObjectFastSleepMs = 5;
inline constexpr int64_t kLockObjectSlowSleepMs = 100;
inline constexpr int64_t kLockObjectGiveUpMs = 600000;

}  // namespace zor
