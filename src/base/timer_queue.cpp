#include "base/timer_queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/exception_handler.h"
#include "base/exceptions.h"
#include "base/run_status.h"

namespace zor {

class TimerWindow {
 public:
  struct Timer {
    std::chrono::milliseconds Interval{};
    std::shared_ptr<std::function<void()>> Callback;
    Clock::Steady::time_point Due{};
  };

  std::thread::id Owner = std::this_thread::get_id();
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<std::function<void()>> Posted;
  std::map<uint64_t, Timer> Timers;
  bool Running = false;  // a periodic callback is being called
  uint64_t RunningId = 0;
  bool TimeChanged = false;
  bool Closed = false;
  std::function<void()> WakeHook;
};

namespace {

constexpr const char* kNoThreadWindow = "The timer window of this thread is not created!";
constexpr const char* kNoMainWindow = "The timer window of main thread is not created!";

struct Windows {
  std::mutex Lock;
  std::vector<std::weak_ptr<TimerWindow>> All;
  TimerWindowHandle Main;
  std::function<void()> TimeChangeHook;
};

Windows& TheWindows() {
  static auto* windows = new Windows;  // threads may end after static destruction began
  return *windows;
}

void CloseWindow(const TimerWindowHandle& window) {
  std::deque<std::function<void()>> dropped;
  std::map<uint64_t, TimerWindow::Timer> droppedTimers;
  {
    std::lock_guard guard(window->Lock);
    window->Closed = true;
    dropped.swap(window->Posted);
    droppedTimers.swap(window->Timers);
  }
  window->Changed.notify_all();
  Windows& w = TheWindows();
  std::lock_guard guard(w.Lock);
  std::erase_if(w.All, [&](const std::weak_ptr<TimerWindow>& p) {
    const auto locked = p.lock();
    return !locked || locked == window;
  });
  if (w.Main == window) w.Main.reset();
}

// The calling thread's window; closed when the thread ends.
struct ThreadWindow {
  TimerWindowHandle Window;
  ~ThreadWindow() {
    if (Window) CloseWindow(Window);
  }
};
thread_local ThreadWindow tWindow;

TimerWindowHandle OwnWindowOrFail() {
  if (!tWindow.Window) throw Exception(kNoThreadWindow);
  return tWindow.Window;
}

void RunGuarded(const std::function<void()>& call) {
  try {
    call();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

void PostToWindow(const TimerWindowHandle& window, std::function<void()> call,
                  const char* missingMessage) {
  std::function<void()> hook;
  {
    std::lock_guard guard(window->Lock);
    if (window->Closed) throw Exception(missingMessage);
    window->Posted.push_back(std::move(call));
    hook = window->WakeHook;
  }
  window->Changed.notify_all();
  if (hook) hook();
}

TimerWindowHandle MainWindow() {
  Windows& w = TheWindows();
  std::lock_guard guard(w.Lock);
  return w.Main;
}

}  // namespace

void CreateTimerWindow() {
  if (tWindow.Window) return;
  auto window = std::make_shared<TimerWindow>();
  Windows& w = TheWindows();
  {
    std::lock_guard guard(w.Lock);
    w.All.push_back(window);
  }
  tWindow.Window = std::move(window);
}

void DestroyTimerWindow() {
  TimerWindowHandle window = std::move(tWindow.Window);
  tWindow.Window.reset();
  if (window) CloseWindow(window);
}

TimerWindowHandle CurrentTimerWindow() {
  return tWindow.Window;
}

void DeclareMainThread() {
  CreateTimerWindow();
  Windows& w = TheWindows();
  std::lock_guard guard(w.Lock);
  w.Main = tWindow.Window;
}

bool IsMainThread() {
  const TimerWindowHandle main = MainWindow();
  return main && main->Owner == std::this_thread::get_id();
}

TimerWindowHandle RegisterPeriodic(std::chrono::milliseconds interval,
                                   std::function<void()> callback, uint64_t id) {
  TimerWindowHandle window = OwnWindowOrFail();
  if (interval < kMinTimerInterval) interval = kMinTimerInterval;
  {
    std::lock_guard guard(window->Lock);
    window->Timers[id] =
        TimerWindow::Timer{interval, std::make_shared<std::function<void()>>(std::move(callback)),
                           GetClock().Now() + interval};
  }
  window->Changed.notify_all();
  return window;
}

void UnregisterPeriodic(const TimerWindowHandle& window, uint64_t id) {
  if (!window) return;
  std::shared_ptr<std::function<void()>> callback;  // freed outside the lock
  std::unique_lock guard(window->Lock);
  const auto it = window->Timers.find(id);
  if (it != window->Timers.end()) {
    callback = std::move(it->second.Callback);
    window->Timers.erase(it);
  }
  if (std::this_thread::get_id() != window->Owner)
    window->Changed.wait(guard, [&] { return !(window->Running && window->RunningId == id); });
}

void PostToThread(std::function<void()> call, bool mainThread) {
  if (mainThread) {
    const TimerWindowHandle main = MainWindow();
    if (!main) throw Exception(kNoMainWindow);
    PostToWindow(main, std::move(call), kNoMainWindow);
  } else {
    PostToWindow(OwnWindowOrFail(), std::move(call), kNoThreadWindow);
  }
}

void CallOnMainThread(const std::function<void()>& call) {
  const TimerWindowHandle main = MainWindow();
  if (!main) throw Exception(kNoMainWindow);
  if (main->Owner == std::this_thread::get_id()) {
    call();
    return;
  }
  // Only the queued call holds the promise, so dropping the call breaks it.
  // The call's exception is handed over whole: the main thread leaves its
  // catch block before passing it on, so the caller holds the only reference
  // and frees the exception on its own thread.
  auto promise = std::make_shared<std::promise<std::exception_ptr>>();
  std::future<std::exception_ptr> done = promise->get_future();
  PostToWindow(
      main,
      [promise = std::move(promise), &call] {
        std::exception_ptr error;
        try {
          call();
        } catch (...) {
          error = std::current_exception();
        }
        promise->set_value(std::move(error));
      },
      kNoMainWindow);
  std::exception_ptr error;
  try {
    error = done.get();
  } catch (const std::future_error&) {
    // The main window was destroyed with the call still queued.
    throw EAbort("Operation aborted!");
  }
  if (error) std::rethrow_exception(std::move(error));
}

bool ProcessPendingTimers() {
  const TimerWindowHandle window = OwnWindowOrFail();
  bool ran = false;
  std::deque<std::function<void()>> calls;
  bool timeChanged;
  {
    std::lock_guard guard(window->Lock);
    calls.swap(window->Posted);
    timeChanged = std::exchange(window->TimeChanged, false);
  }
  for (const auto& call : calls) {
    RunGuarded(call);
    ran = true;
  }
  calls.clear();
  if (timeChanged) {
    std::function<void()> hook;
    {
      Windows& w = TheWindows();
      std::lock_guard guard(w.Lock);
      hook = w.TimeChangeHook;
    }
    if (hook) {
      RunGuarded(hook);
      ran = true;
    }
  }

  const auto now = GetClock().Now();
  std::vector<std::pair<Clock::Steady::time_point, uint64_t>> due;
  {
    std::lock_guard guard(window->Lock);
    for (const auto& [id, timer] : window->Timers)
      if (timer.Due <= now) due.emplace_back(timer.Due, id);
  }
  std::sort(due.begin(), due.end());
  const bool quiet = GetRunStatus() > kRunStatusWaiting;
  for (const auto& [dueAt, id] : due) {
    std::shared_ptr<std::function<void()>> callback;
    {
      std::lock_guard guard(window->Lock);
      const auto it = window->Timers.find(id);
      // Gone, or registered anew by an earlier callback of this round.
      if (it == window->Timers.end() || it->second.Due != dueAt) continue;
      auto next = it->second.Due + it->second.Interval;
      it->second.Due = next > now ? next : now + it->second.Interval;
      if (quiet) continue;
      callback = it->second.Callback;
      window->Running = true;
      window->RunningId = id;
    }
    RunGuarded(*callback);
    ran = true;
    {
      std::lock_guard guard(window->Lock);
      window->Running = false;
    }
    window->Changed.notify_all();
  }
  return ran;
}

std::optional<std::chrono::milliseconds> TimeToNextTimer() {
  const TimerWindowHandle window = OwnWindowOrFail();
  const auto now = GetClock().Now();
  std::lock_guard guard(window->Lock);
  if (!window->Posted.empty() || window->TimeChanged) return std::chrono::milliseconds(0);
  std::optional<std::chrono::milliseconds> next;
  for (const auto& [id, timer] : window->Timers) {
    const auto left = timer.Due <= now
                          ? std::chrono::milliseconds(0)
                          : std::chrono::ceil<std::chrono::milliseconds>(timer.Due - now);
    if (!next || left < *next) next = left;
  }
  return next;
}

void RunTimerQueue(std::chrono::milliseconds duration, const std::function<bool()>& stop) {
  const TimerWindowHandle window = OwnWindowOrFail();
  Clock& clock = GetClock();
  const auto end = clock.Now() + duration;
  for (;;) {
    ProcessPendingTimers();
    if (stop && stop()) return;
    const auto now = clock.Now();
    if (now >= end) return;
    auto wait = std::min<std::chrono::milliseconds>(
        std::chrono::ceil<std::chrono::milliseconds>(end - now), kTimerQueuePollCap);
    if (const auto next = TimeToNextTimer(); next && *next < wait) wait = *next;
    std::unique_lock guard(window->Lock);
    window->Changed.wait_for(guard, wait,
                             [&] { return !window->Posted.empty() || window->TimeChanged; });
  }
}

void SetTimerQueueWakeHook(std::function<void()> hook) {
  const TimerWindowHandle window = OwnWindowOrFail();
  std::lock_guard guard(window->Lock);
  window->WakeHook = std::move(hook);
}

void SetTimeChangeHook(std::function<void()> hook) {
  Windows& w = TheWindows();
  std::lock_guard guard(w.Lock);
  w.TimeChangeHook = std::move(hook);
}

void NotifyTimeChanged() {
  std::vector<TimerWindowHandle> windows;
  {
    Windows& w = TheWindows();
    std::lock_guard guard(w.Lock);
    for (const auto& p : w.All)
      if (auto window = p.lock()) windows.push_back(std::move(window));
  }
  for (const auto& window : windows) {
    std::function<void()> hook;
    {
      std::lock_guard guard(window->Lock);
      window->TimeChanged = true;
      hook = window->WakeHook;
    }
    window->Changed.notify_all();
    if (hook) hook();
  }
}

}  // namespace zor
