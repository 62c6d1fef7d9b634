#include "server/tcp_listener.h"

#include <chrono>

#include "base/clock.h"
#include "base/exceptions.h"
#include "platform/socket.h"
#include "server/zor_server.h"
#include "transport/socket_listen_list.h"
#include "transport/tcp_handler.h"

namespace zor {

namespace {

// Without a listening socket of its own to wait on, the pause between accept attempts; a
// stop request cuts it short.
constexpr auto kAcceptPause = std::chrono::milliseconds(20);
// The longest wait on the listening socket: a new peer ends it at once, a stop within this.
constexpr int kAcceptWaitMs = 100;
constexpr auto kRetryPause = std::chrono::milliseconds(200);

}  // namespace

TTCPListener::TTCPListener(std::string connectString) : Text(std::move(connectString)) {}

TTCPListener::~TTCPListener() {
  Stop();
}

void TTCPListener::Start(TZORServer& server) {
  if (IsRunning) return;
  Waiting = std::make_unique<TTCPHandler>(Text);
  // The listening socket is created here with the server's backlog; the handlers find and
  // share it by its address. The handlers' own backlog of 5 loses connections when many
  // clients connect at once (with SYN cookies the client then waits for a greeting that
  // never comes).
  const SocketAddress local = Waiting->LocalAddress;
  if (local.Port != 0) {
    int error = 0;
    Shared = AcquireListenRecord(
        "tcp:" + FormatIPv4(local.Address) + ":" + std::to_string(local.Port),
        [&local](int& err) {
          const int s = CreateSocket(SocketKind::Stream, err);
          if (s == kNoSocket) return kNoSocket;
          if (!BindSocket(s, local, err) || !ListenSocket(s, kServerListenBacklog, err)) {
            CloseSocket(s);
            return kNoSocket;
          }
          return s;
        },
        error);
    if (!Shared) {
      Waiting.reset();
      throw Exception("Cannot listen on " + FormatIPv4(local.Address) + ":" +
                      std::to_string(local.Port) + ": " + SocketErrorText(error));
    }
  }
  try {
    Waiting->Open();  // raises when the address cannot be listened on
  } catch (...) {
    Waiting.reset();
    ReleaseListenRecord(Shared);
    throw;
  }
  StopFlag = false;
  IsRunning = true;
  Thread = std::thread([this, &server] { Loop(server); });
}

void TTCPListener::Stop() {
  {
    std::lock_guard guard(PauseLock);
    StopFlag = true;
  }
  PauseWake.notify_all();
  if (Thread.joinable()) Thread.join();
  Waiting.reset();
  ReleaseListenRecord(Shared);
  IsRunning = false;
}

void TTCPListener::Loop(TZORServer& server) {
  while (!StopFlag) {
    try {
      if (!Waiting) {
        Waiting = std::make_unique<TTCPHandler>(Text);
        Waiting->Open();
      }
      if (Waiting->TryAccept()) {
        server.AcceptTransport(std::move(Waiting));
        continue;
      }
      if (Waiting->GetState() == kStateDisconnected) {
        server.Log().Warning("TCP", "Accepting on [" + Text + "] failed; listening again");
        Waiting.reset();
        Pause(kRetryPause);
        continue;
      }
      if (Shared) {
        // Woken by the next peer itself, so a new connection is accepted without delay.
        int error = 0;
        PollSocket(Shared->Socket, kPollReadable, kAcceptWaitMs, error);
      } else {
        Pause(kAcceptPause);
      }
    } catch (const std::exception& e) {
      server.Log().Error("TCP", "Listener [" + Text + "]: " + e.what());
      Waiting.reset();
      Pause(kRetryPause);
    }
  }
}

void TTCPListener::Pause(std::chrono::milliseconds duration) {
  std::unique_lock guard(PauseLock);
  GetClock().WaitUntil(guard, PauseWake, GetClock().Now() + duration,
                       [this] { return StopFlag.load(); });
}

}  // namespace zor
