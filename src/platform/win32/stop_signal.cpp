// The console's control events stand for the signals: Ctrl+C for a stop at once, Ctrl+Break,
// closing the console, logging off and shutting down for a stop after the running work.
// Windows has no reload request of its own yet.
#include "platform/stop_signal.h"

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace zor {
namespace {

// Signal numbers as the program logs them (those of Linux for the same request).
constexpr int kInterrupt = 2;
constexpr int kTerminate = 15;

std::mutex gLock;
std::condition_variable gArrived;
std::deque<int>& Pending() {
  static auto* pending = new std::deque<int>();
  return *pending;
}

BOOL WINAPI OnControl(DWORD event) {
  {
    std::lock_guard lock(gLock);
    Pending().push_back(event == CTRL_C_EVENT ? kInterrupt : kTerminate);
  }
  gArrived.notify_all();
  return TRUE;  // handled: the process is not ended for us
}

}  // namespace

void BlockStopSignals() {
  static std::once_flag once;
  std::call_once(once, [] { ::SetConsoleCtrlHandler(&OnControl, TRUE); });
}

ServiceSignal WaitForServiceSignal(int& number) {
  std::unique_lock lock(gLock);
  gArrived.wait(lock, [] { return !Pending().empty(); });
  number = Pending().front();
  Pending().pop_front();
  return number == kTerminate ? ServiceSignal::Drain : ServiceSignal::Stop;
}

}  // namespace zor
