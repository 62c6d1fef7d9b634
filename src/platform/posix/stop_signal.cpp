#include "platform/stop_signal.h"

#include <pthread.h>
#include <signal.h>

namespace zor {

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

sigset_t ServiceSet() {
  sigset_t set = StopSet();
  sigaddset(&set, SIGHUP);
  return set;
}

int Wait(const sigset_t& set) {
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
  return signal;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = ServiceSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

ServiceSignal WaitForServiceSignal(int& number) {
  number = Wait(ServiceSet());
  if (number == SIGHUP) return ServiceSignal::Reload;
  return number == SIGTERM ? ServiceSignal::Drain : ServiceSignal::Stop;
}

}  // namespace zor
