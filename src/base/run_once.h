// Lazy creation of a shared object by whichever thread comes first. The state cell starts
// as nullptr; while one thread runs the initializer the others wait for its result.
#pragma once

#include <atomic>
#include <functional>

namespace zor {

// Answers the object in `state`, running `initializer` once to create it. A second thread
// that arrives while the first one initializes yields and sleeps 5 ms at a time until the
// result is there. When the initializer throws, the cell goes back to empty (so a later
// call tries again) and the exception reaches the caller.
void* RunOnce(std::atomic<void*>& state, const std::function<void*()>& initializer);

template <class T, class F>
T* RunOnce(std::atomic<void*>& state, F&& initializer) {
  return static_cast<T*>(
      RunOnce(state, std::function<void*()>([&] { return static_cast<void*>(initializer()); })));
}

}  // namespace zor
