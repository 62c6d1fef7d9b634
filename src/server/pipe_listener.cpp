#include "server/pipe_listener.h"

#include "base/clock.h"
#include "base/exceptions.h"
#include "platform/local_socket.h"
#include "platform/socket.h"
#include "server/tcp_listener.h"
#include "server/zor_server.h"
#include "transport/pipe_handler.h"
#include "transport/socket_listen_list.h"

namespace zor {

namespace {

// The longest wait on the listening socket: a new client ends it at once, a stop within this.
constexpr int kAcceptWaitMs = 100;

}  // namespace

std::string ServerPipeConnectString(const std::string& pipeName) {
  return ComposePipeString(".", pipeName, true);
}

TPipeListener::TPipeListener(std::string connectString) : Text(std::move(connectString)) {}

TPipeListener::~TPipeListener() {
  Stop();
}

std::string TPipeListener::Path() const {
  return LocalPipeFolder() + "/" + ParsePipeConnectString(Text).Name;
}

void TPipeListener::Start(TZORServer& server) {
  if (IsRunning) return;
  // The listening socket is made here with the server's backlog, so that many launchers
  // starting at once are queued, not turned away; the server ends share it by its name.
  const std::string path = Path();
  int error = 0;
  Shared = AcquireListenRecord(
      "pipe:" + path,
      [&path](int& err) { return CreateLocalListener(path, kServerListenBacklog, err); }, error,
      path);
  if (!Shared) throw Exception("Cannot listen on the pipe " + path + ": " + SocketErrorText(error));
  try {
    Waiting = std::make_unique<TPipeHandler>(Text);
    Waiting->Open();
  } catch (...) {
    Waiting.reset();
    ReleaseListenRecord(Shared);
    throw;
  }
  StopFlag = false;
  IsRunning = true;
  Thread = std::thread([this, &server] { Loop(server); });
}

void TPipeListener::Stop() {
  StopFlag = true;
  if (Thread.joinable()) Thread.join();
  Waiting.reset();
  ReleaseListenRecord(Shared);
  IsRunning = false;
}

void TPipeListener::Loop(TZORServer& server) {
  while (!StopFlag) {
    try {
      if (!Waiting) {
        Waiting = std::make_unique<TPipeHandler>(Text);
        Waiting->Open();
      }
      if (Waiting->TryAccept()) {
        server.AcceptTransport(std::move(Waiting));
        continue;
      }
      if (Waiting->GetState() == kStateDisconnected) {
        server.Log().Warning("Pipe", "Accepting on [" + Text + "] failed; listening again");
        Waiting.reset();
      }
      // Woken by the next client itself, so a new connection is accepted without delay.
      int error = 0;
      PollSocket(Shared->Socket, kPollReadable, kAcceptWaitMs, error);
    } catch (const std::exception& e) {
      server.Log().Error("Pipe", "Listener [" + Text + "]: " + e.what());
      Waiting.reset();
      GetClock().SleepFor(std::chrono::milliseconds(kAcceptWaitMs));
    }
  }
}

}  // namespace zor
