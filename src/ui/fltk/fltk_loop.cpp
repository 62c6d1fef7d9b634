#include "ui/fltk/fltk_loop.h"

#include <FL/Fl.H>

#include <algorithm>

#include "base/clock.h"
#include "base/timer_queue.h"

namespace zor {

void InstallFltkWakeUp() {
  DeclareMainThread();
  SetTimerQueueWakeHook([] { Fl::awake(); });
}

void RemoveFltkWakeUp() {
  if (CurrentTimerWindow()) SetTimerQueueWakeHook({});
}

void RunFltkRound(std::chrono::milliseconds duration, const std::function<bool()>& stop) {
  Clock& clock = GetClock();
  const auto end = clock.Now() + duration;
  for (;;) {
    const bool hasQueue = CurrentTimerWindow() != nullptr;
    if (hasQueue) ProcessPendingTimers();
    if (stop && stop()) return;
    const auto now = clock.Now();
    if (now >= end) return;
    auto wait = std::min<std::chrono::milliseconds>(
        std::chrono::ceil<std::chrono::milliseconds>(end - now), kTimerQueuePollCap);
    if (hasQueue) {
      if (const auto next = TimeToNextTimer(); next && *next < wait) wait = *next;
    }
    Fl::wait(static_cast<double>(wait.count()) / 1000.0);
  }
}

void RunFltkUntil(const std::function<bool()>& done) {
  while (!done()) RunFltkRound(kFltkLoopRound, done);
}

}  // namespace zor
