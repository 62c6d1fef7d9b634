#include "platform/stop_signal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace zor {

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal() {
  const sigset_t set = StopSet();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
  return signal;
}

void RaiseStopSignal() { kill(getpid(), SIGTERM); }

}  // namespace zor
