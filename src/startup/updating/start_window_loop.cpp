#include "startup/updating/start_window_loop.h"

#include <chrono>

#include "base/timer_queue.h"
#include "startup/launch/application_state.h"

namespace zor {
namespace {

// How long one round of the loop may wait before it looks at the stop condition again.
constexpr std::chrono::milliseconds kLoopRound{50};

}  // namespace

void RunStartWindowLoop(TStartWindowModel& model, const TMainLoopRound& round) {
  const TMainLoopRound runRound = round ? round
                                        : TMainLoopRound([](std::chrono::milliseconds duration,
                                                            const std::function<bool()>& stop) {
                                            RunTimerQueue(duration, stop);
                                          });
  DeclareMainThread();
  // A quit from any thread wakes the loop so that it sees the end at once.
  OnApplicationTerminate([] {
    try {
      PostToThread([] {}, true);
    } catch (...) {
      // The loop is gone already.
    }
  });
  const TimerWindowHandle window = RegisterPeriodic(
      std::chrono::milliseconds(kStartTickMs), [&model] { model.Tick(); }, kStartTimerId);
  RegisterPeriodic(
      std::chrono::milliseconds(kDownloadTimerMs), [&model] { model.DownloadTimerTick(); },
      kDownloadTimerId);
  // The destroy step runs however the loop ends.
  struct DestroyStep {
    TStartWindowModel& Model;
    TimerWindowHandle Window;
    const TMainLoopRound& Round;
    ~DestroyStep() {
      UnregisterPeriodic(Window, kStartTimerId);
      UnregisterPeriodic(Window, kDownloadTimerId);
      Model.Shutdown([this] { Round(kLoopRound, {}); });
      OnApplicationTerminate({});
    }
  } destroy{model, window, runRound};
  // A worker that is done wakes the loop, which ends here and closes the window in the
  // destroy step rather than at the next tick.
  const auto stop = [&model] {
    return model.Closed() || model.ReadyToClose() || IsApplicationTerminating();
  };
  model.Create();
  model.StartSequence();
  while (!stop()) runRound(kLoopRound, stop);
}

}  // namespace zor
