// Runs the start window on the main thread's timer queue: the create step, the start
// sequence, the 100 ms tick and the 1-second download timer, the main-thread calls the worker
// hands over, until the window closes or the application ends; then the destroy step.
// A windowed front end that has its own event loop drives the model itself instead.
#pragma once

#include "startup/start_window_model.h"

namespace zor {

inline constexpr uint64_t kStartTimerId = 1;
inline constexpr uint64_t kDownloadTimerId = 2;

// Declares the calling thread the main thread when no thread is.
void RunStartWindowLoop(TStartWindowModel& model);

}  // namespace zor
