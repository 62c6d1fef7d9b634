// The per-thread timer window: a queue of periodic callbacks and posted calls that only
// its owning thread runs, from its own loop (`ProcessPendingTimers` or `RunTimerQueue`),
// so a callback never races with other code of that thread. Other threads post calls to
// it and wake it. One thread declares itself the main thread; its queue is remembered
// process-wide and is how worker threads hand work to the main (user-interface) thread.
//
// Periodic callbacks stay quiet while the owning thread's run status is above 1; posted
// calls always run. An exception escaping any call goes to the application exception
// handler and the queue keeps working. All times come from the injectable clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace zor {

class TimerWindow;
using TimerWindowHandle = std::shared_ptr<TimerWindow>;

// Intervals below this are raised to it (a zero interval would spin the loop).
inline constexpr std::chrono::milliseconds kMinTimerInterval{10};
// The longest real-time wait of `RunTimerQueue` before it looks at the clock again, so a
// test clock that is moved by hand is noticed.
inline constexpr std::chrono::milliseconds kTimerQueuePollCap{20};

// Create or destroy the calling thread's timer window (at most one per thread; creating
// it twice keeps the first). Destroying drops pending calls and timers. A thread's window
// is also destroyed when the thread ends.
void CreateTimerWindow();
void DestroyTimerWindow();
// The calling thread's window, or nullptr.
TimerWindowHandle CurrentTimerWindow();

// Creates the calling thread's window when needed and makes it the main thread's window.
void DeclareMainThread();
// True on the thread whose window is the main one.
bool IsMainThread();

// Registers (or replaces) the periodic callback `id` on the calling thread's window and
// answers the window. Without a window raises "The timer window of this thread is not
// created!".
TimerWindowHandle RegisterPeriodic(std::chrono::milliseconds interval,
                                   std::function<void()> callback, uint64_t id);
// Stops the callback `id`; it is not called again. Called from another thread while the
// callback runs, it waits for that call to end (so the callback's owner may be freed).
void UnregisterPeriodic(const TimerWindowHandle& window, uint64_t id);

// Queues a call for the calling thread's window, or the main thread's when `mainThread`.
// Without it raises "The timer window of this thread is not created!" or "The timer window
// of main thread is not created!". Calls run in the order they were posted.
void PostToThread(std::function<void()> call, bool mainThread = false);

// Runs `call` on the main thread and waits for it; its exception is raised again here. On
// the main thread itself it runs at once. When the main window goes away before the call
// ran, raises a silent abort. Blocks until the main thread's loop runs it.
void CallOnMainThread(const std::function<void()>& call);

// On the owning thread: runs the calls posted so far, the time-change hook when the time
// changed, and every periodic callback that is due. Answers whether anything ran. Without
// a window raises "The timer window of this thread is not created!".
bool ProcessPendingTimers();
// Runs the calling thread's window for `duration` of clock time, or until `stop` answers
// true (checked after each round), waiting in between for timers or posted calls.
void RunTimerQueue(std::chrono::milliseconds duration, const std::function<bool()>& stop = {});
// Time until the calling thread's next periodic callback is due (0 when one is due or a
// call is pending), nullopt when there is nothing to wait for. For a GUI loop.
std::optional<std::chrono::milliseconds> TimeToNextTimer();
// Called by other threads after they post to the calling thread's window (a GUI loop that
// does not block in `RunTimerQueue` installs its wake-up here).
void SetTimerQueueWakeHook(std::function<void()> hook);

// The hook every window calls, on its own thread, after the system time changed.
void SetTimeChangeHook(std::function<void()> hook);
// Tells every window that the system time changed (the platform layer calls it).
void NotifyTimeChanged();

}  // namespace zor
