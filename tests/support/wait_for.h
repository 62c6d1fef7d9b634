// Polls a condition until it holds or a deadline passes: a safety net for a broken build
// (a process that never starts, a file that never appears), never a measure of speed.
#pragma once

#include <chrono>
#include <functional>

namespace zor::testing {

// True as soon as `done` holds; false when it still does not after `limit`.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace zor::testing
