// Runs the start window on the main thread's timer queue: the create step, the start
// sequence, the 100 ms tick and the 1-second download timer, the main-thread calls the worker
// hands over, until the window closes or the application ends; then the destroy step.
// A windowed front end brings its own round of the loop, which waits for its window events
// as well as for the queue.
#pragma once

#include <chrono>
#include <functional>

#include "startup/updating/start_window_model.h"

namespace zor {

inline constexpr uint64_t kStartTimerId = 1;
inline constexpr uint64_t kDownloadTimerId = 2;

// One round of the main thread's loop: runs the calling thread's timer queue for at most
// `duration`, or until `stop` (which may be empty) answers true.
using TMainLoopRound =
    std::function<void(std::chrono::milliseconds duration, const std::function<bool()>& stop)>;

// Declares the calling thread the main thread when no thread is. An empty `round` waits on
// the timer queue alone (`RunTimerQueue`).
void RunStartWindowLoop(TStartWindowModel& model, const TMainLoopRound& round = {});

}  // namespace zor
