#include "server/accept_loop_listener.h"

#include "base/clock.h"
#include "platform/socket.h"
#include "server/zor_server.h"
#include "transport/socket_handler.h"
#include "transport/socket_listen_list.h"

namespace zor {

namespace {

// Without a listening socket of its own to wait on, the pause between accept attempts; a
// stop request cuts it short.
constexpr auto kAcceptPause = std::chrono::milliseconds(20);
// The longest wait on the listening socket: a new client ends it at once, a stop within this.
constexpr int kAcceptWaitMs = 100;
constexpr auto kRetryPause = std::chrono::milliseconds(200);

}  // namespace

TAcceptLoopListener::TAcceptLoopListener(std::string connectString, std::string logTag)
    : Text(std::move(connectString)), LogTag(std::move(logTag)) {}

TAcceptLoopListener::~TAcceptLoopListener() {
  Stop();
}

void TAcceptLoopListener::StartAccepting(TZORServer& server) {
  try {
    if (!Waiting) Waiting = NewWaitingEnd();
    Waiting->Open();  // raises when the channel cannot be listened on
  } catch (...) {
    Waiting.reset();
    ReleaseListenRecord(Shared);
    throw;
  }
  IsRunning = true;
  Worker.Start([this, &server](std::stop_token stop) { Loop(server, stop); });
}

void TAcceptLoopListener::Stop() {
  Worker.Stop();
  Waiting.reset();
  ReleaseListenRecord(Shared);
  IsRunning = false;
}

void TAcceptLoopListener::Loop(TZORServer& server, const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    try {
      if (!Waiting) {
        Waiting = NewWaitingEnd();
        Waiting->Open();
      }
      if (Waiting->TryAccept()) {
        server.AcceptTransport(std::move(Waiting));
        continue;
      }
      if (Waiting->GetState() == kStateDisconnected) {
        server.Log().Warning(LogTag, "Accepting on [" + Text + "] failed; listening again");
        Waiting.reset();
        Worker.PauseFor(stop, kRetryPause);
        continue;
      }
      if (Shared) {
        // Woken by the next client itself, so a new connection is accepted without delay.
        int error = 0;
        PollSocket(Shared->Socket, kPollReadable, kAcceptWaitMs, error);
      } else {
        Worker.PauseFor(stop, kAcceptPause);
      }
    } catch (const std::exception& e) {
      server.Log().Error(LogTag, "Listener [" + Text + "]: " + e.what());
      Waiting.reset();
      Worker.PauseFor(stop, kRetryPause);
    }
  }
}

}  // namespace zor
