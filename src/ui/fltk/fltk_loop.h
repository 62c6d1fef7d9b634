// The main thread's loop under FLTK: window events and the timer queue (the start window's
// timers, the calls the update worker hands over) in one loop. Other threads wake it with
// `Fl::awake` when they post to the main thread's queue. Modal windows run the same loop,
// so the start window's timers and the worker's calls go on while a dialog is open.
#pragma once

#include <chrono>
#include <functional>

namespace zor {

// How long one wait may last before the loop looks at its stop condition again.
inline constexpr std::chrono::milliseconds kFltkLoopRound{50};

// Main thread: makes it the main thread and lets a post to its queue wake `Fl::wait`.
void InstallFltkWakeUp();
void RemoveFltkWakeUp();

// Runs window events and, when the calling thread has a timer window, its queue, for at
// most `duration` or until `stop` (may be empty) answers true.
void RunFltkRound(std::chrono::milliseconds duration, const std::function<bool()>& stop);
// A modal loop: runs rounds until `done` answers true.
void RunFltkUntil(const std::function<bool()>& done);

}  // namespace zor
