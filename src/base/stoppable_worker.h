// A thread that runs one loop until it is asked to stop: a `std::jthread` whose stop token
// the loop watches, and pauses that end early when the stop comes. Pauses wait on the
// process clock (clock.h), so a test that moves a manual clock wakes them without sleeping.
//
//   TStoppableWorker Worker;
//   Worker.Start([this](std::stop_token stop) {
//     while (!stop.stop_requested()) {
//       DoOneRound();
//       Worker.PauseFor(stop, std::chrono::seconds(1));
//     }
//   });
//   ...
//   Worker.Stop();  // asks, wakes a pause, waits for the loop to return
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "base/clock.h"

namespace zor {

class TStoppableWorker {
 public:
  using Loop = std::function<void(std::stop_token stop)>;

  TStoppableWorker() = default;
  ~TStoppableWorker() { Stop(); }
  TStoppableWorker(const TStoppableWorker&) = delete;
  TStoppableWorker& operator=(const TStoppableWorker&) = delete;

  // Runs `loop` on a new thread. A worker still running is stopped first.
  void Start(Loop loop);
  // Asks the loop to stop, ends its pause and waits until it returned. Nothing when it is
  // not running. Never called from the loop itself.
  void Stop();
  // Only asks, for an owner that must wake the loop in its own way (close what it waits on)
  // before it waits with `Stop`.
  void RequestStop() { Thread.request_stop(); }
  bool Running() const { return Thread.joinable(); }

  // Waits until the process clock reaches `deadline` or `stop` is asked for; answers
  // whether it was asked for. Called by the loop with the token it was given.
  bool PauseUntil(const std::stop_token& stop, Clock::Steady::time_point deadline);
  bool PauseFor(const std::stop_token& stop, Clock::Steady::duration duration) {
    return PauseUntil(stop, GetClock().Now() + duration);
  }

 private:
  std::mutex Lock;
  std::condition_variable Wake;
  std::jthread Thread;
};

}  // namespace zor
